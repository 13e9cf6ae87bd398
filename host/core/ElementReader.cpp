#include "host/core/ElementReader.h"

#include <cmath>

#include "host/core/Utf16.h"

namespace host {

using namespace std::string_literals;

void ElementReader::fail(pugi::xml_node node, const std::string& message) const {
    source_.fail(node, message);
}

std::string ElementReader::where(pugi::xml_node node, const char* attribute) {
    return "<"s + node.name() + "> attribute \"" + attribute + "\"";
}

void ElementReader::attributes(pugi::xml_node node,
                               std::initializer_list<std::string_view> allowed) const {
    for (pugi::xml_attribute attribute : node.attributes()) {
        bool known = false;
        for (std::string_view name : allowed) {
            known = known || name == attribute.name();
        }
        if (!known) {
            std::string expected;
            for (std::string_view name : allowed) {
                expected += (expected.empty() ? "" : ", ") + std::string(name);
            }
            fail(node, "unknown attribute \""s + attribute.name() + "\" on <" + node.name() + ">" +
                           (expected.empty() ? "" : "; expected one of " + expected));
        }
    }
}

void ElementReader::elementsOnly(pugi::xml_node node,
                                 std::initializer_list<std::string_view> allowed) const {
    for (pugi::xml_node child : node.children()) {
        if (child.type() == pugi::node_pcdata && !isBlank(child.value())) {
            fail(node, "unexpected text inside <"s + node.name() + ">");
        }
        if (child.type() != pugi::node_element) {
            continue;
        }
        bool known = false;
        std::string expected;
        for (std::string_view name : allowed) {
            known = known || name == child.name();
            expected += (expected.empty() ? "<" : ">, <") + std::string(name);
        }
        if (!known) {
            fail(child, "unexpected element <"s + child.name() + "> inside <" + node.name() + ">" +
                            (expected.empty() ? "" : "; expected " + expected + ">"));
        }
    }
}

std::string ElementReader::required(pugi::xml_node node, const char* name) const {
    const pugi::xml_attribute attribute = node.attribute(name);
    if (!attribute) {
        fail(node, "<"s + node.name() + "> lacks the attribute \"" + name + "\"");
    }
    return attribute.value();
}

std::optional<std::string> ElementReader::optional(pugi::xml_node node, const char* name) const {
    const pugi::xml_attribute attribute = node.attribute(name);
    if (!attribute) {
        return std::nullopt;
    }
    return std::string(attribute.value());
}

int32_t ElementReader::intAttribute(pugi::xml_node node, const char* name, int32_t fallback,
                                    int32_t minimum, int32_t maximum) const {
    return integerAttribute<int32_t>(node, name, fallback, minimum, maximum);
}

double ElementReader::numberAttribute(pugi::xml_node node, const char* name,
                                      double fallback) const {
    const pugi::xml_attribute attribute = node.attribute(name);
    if (!attribute) {
        return fallback;
    }
    const std::string_view text = attribute.value();
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        fail(node, where(node, name) + ": expected a number, found \"" + std::string(text) + "\"");
    }
    return value;
}

bool ElementReader::boolAttribute(pugi::xml_node node, const char* name, bool fallback) const {
    const pugi::xml_attribute attribute = node.attribute(name);
    if (!attribute) {
        return fallback;
    }
    const std::string_view text = attribute.value();
    if (text == "true" || text == "1") {
        return true;
    }
    if (text == "false" || text == "0") {
        return false;
    }
    fail(node, where(node, name) + ": expected true or false, found \"" + std::string(text) + "\"");
}

void ElementReader::fitsField(pugi::xml_node node, const char* name, const std::string& text,
                              std::size_t units) const {
    if (utf16Length(text) > units) {
        fail(node, where(node, name) + ": at most " + std::to_string(units) +
                       " characters fit, found " + std::to_string(utf16Length(text)));
    }
}

void ElementReader::bounded(pugi::xml_node node, std::size_t count, std::size_t limit,
                            const char* what) const {
    if (count > limit) {
        fail(node, "more "s + what + " than the limit of " + std::to_string(limit));
    }
}

bool ElementReader::isBlank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

}  // namespace host
