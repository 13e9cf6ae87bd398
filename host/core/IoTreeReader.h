// Reads a project's IO tree: groups, tags, their named values and how the simulator drives them.
#pragma once

#include <cstddef>
#include <vector>

#include "host/core/ElementReader.h"
#include "host/core/ProjectModel.h"

namespace host {

class IoTreeReader : ElementReader {
  public:
    using ElementReader::ElementReader;

    // The children of <io-tree> or of a <group> at the given depth (the section's are at 1).
    std::vector<IoNode> readIoChildren(pugi::xml_node node, int depth);

  private:
    TagSpec readTag(pugi::xml_node node) const;
    ValueDrive readDrive(pugi::xml_node node, const TagSpec& tag) const;

    std::size_t tags_ = 0;
    std::size_t groups_ = 0;
};

}  // namespace host
