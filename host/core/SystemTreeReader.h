// Reads a project's system tree: interfaces, stations and devices with their parameters, and the
// parent-unit keys that tie them together.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host/core/ElementReader.h"
#include "host/core/ProjectModel.h"

namespace host {

class SystemTreeReader : ElementReader {
  public:
    using ElementReader::ElementReader;

    // The units of <system-tree>, each parent-unit key checked against the whole tree.
    std::vector<UnitSpec> read(pugi::xml_node section);

  private:
    std::vector<UnitSpec> readUnitChildren(pugi::xml_node node, int depth);
    UnitSpec readUnit(pugi::xml_node node, int depth);
    void checkUnitAttributes(pugi::xml_node node, const UnitSpec& unit, const char* infoName) const;
    void readOfflineTimes(pugi::xml_node node, UnitSpec& unit) const;
    ParameterSpec readParameter(pugi::xml_node node) const;
    void checkParentKeys() const;

    std::size_t units_ = 0;
    std::set<std::string> keys_;
    std::vector<std::pair<pugi::xml_node, std::string>> parentKeys_;
};

}  // namespace host
