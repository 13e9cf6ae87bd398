// Checked reading of a project document's elements: every attribute and child is looked at, and
// a value out of its bounds fails with the line it stands on.
#pragma once

#include <charconv>
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <pugixml.hpp>

#include "host/core/ProjectLimits.h"
#include "host/core/XmlSource.h"

namespace host {

class ElementReader {
  public:
    ElementReader(const XmlSource& source, const ProjectLimits& limits)
        : source_(source), limits_(limits) {}

    const ProjectLimits& limits() const { return limits_; }

    [[noreturn]] void fail(pugi::xml_node node, const std::string& message) const;
    // Unknown attributes are errors, so that a misspelt name does not pass unnoticed.
    void attributes(pugi::xml_node node, std::initializer_list<std::string_view> allowed) const;
    // Text between the allowed child elements is an error as well.
    void elementsOnly(pugi::xml_node node, std::initializer_list<std::string_view> allowed) const;

    std::string required(pugi::xml_node node, const char* name) const;
    std::optional<std::string> optional(pugi::xml_node node, const char* name) const;
    template <typename Int>
    Int integerAttribute(pugi::xml_node node, const char* name, Int fallback, Int minimum,
                         Int maximum) const;
    int32_t intAttribute(pugi::xml_node node, const char* name, int32_t fallback,
                         int32_t minimum = INT32_MIN, int32_t maximum = INT32_MAX) const;
    double numberAttribute(pugi::xml_node node, const char* name, double fallback) const;
    bool boolAttribute(pugi::xml_node node, const char* name, bool fallback) const;
    template <typename Enum>
    Enum choice(pugi::xml_node node, const char* name, Enum fallback,
                std::initializer_list<std::pair<std::string_view, Enum>> choices) const;

    // The text fits a fixed record field of `units` UTF-16 code units.
    void fitsField(pugi::xml_node node, const char* name, const std::string& text,
                   std::size_t units) const;
    void bounded(pugi::xml_node node, std::size_t count, std::size_t limit, const char* what) const;

  private:
    static std::string where(pugi::xml_node node, const char* attribute);
    static bool isBlank(std::string_view text);

    const XmlSource& source_;
    const ProjectLimits& limits_;
};

template <typename Int>
Int ElementReader::integerAttribute(pugi::xml_node node, const char* name, Int fallback,
                                    Int minimum, Int maximum) const {
    const pugi::xml_attribute attribute = node.attribute(name);
    if (!attribute) {
        return fallback;
    }
    const std::string_view text = attribute.value();
    Int value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < minimum ||
        value > maximum) {
        fail(node, where(node, name) + ": expected an integer from " + std::to_string(minimum) +
                       " to " + std::to_string(maximum) + ", found \"" + std::string(text) + "\"");
    }
    return value;
}

template <typename Enum>
Enum ElementReader::choice(pugi::xml_node node, const char* name, Enum fallback,
                           std::initializer_list<std::pair<std::string_view, Enum>> choices) const {
    const pugi::xml_attribute attribute = node.attribute(name);
    if (!attribute) {
        return fallback;
    }
    std::string expected;
    for (const auto& [text, value] : choices) {
        if (text == attribute.value()) {
            return value;
        }
        expected += (expected.empty() ? "" : ", ") + std::string(text);
    }
    fail(node, where(node, name) + ": expected one of " + expected + ", found \"" +
                   attribute.value() + "\"");
}

}  // namespace host
