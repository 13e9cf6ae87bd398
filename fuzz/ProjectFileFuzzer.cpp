// Fuzz target: a project file read as the host reads one, with small limits that short inputs
// reach, then turned into the records and first values the host runs. A refusal must be a
// FileError naming the file and a line of it (0: the whole file), anything else escapes as a
// crash; an accepted project, written back, reads back as itself once normalised.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "host/core/FileError.h"
#include "host/core/Plant.h"
#include "host/core/ProjectFile.h"
#include "host/core/ProjectWriter.h"
#include "host/core/TagDriver.h"

namespace {

constexpr const char* kFileName = "fuzz.kvp";

host::ProjectLimits fuzzLimits() {
    host::ProjectLimits limits;
    limits.maxFileBytes = 256 * 1024;
    limits.maxTags = 64;
    limits.maxGroups = 16;
    limits.maxUnits = 32;
    limits.maxParametersPerUnit = 32;
    limits.maxNamedValuesPerTag = 8;
    limits.maxItemsPerParameter = 8;
    limits.maxMessagesPerTag = 8;
    limits.maxUsers = 4;
    limits.maxTreeDepth = 8;
    return limits;
}

[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "project_file: %s: %s\n", what, detail.c_str());
    std::abort();
}

void checkRefusal(const host::FileError& error, const std::string& text) {
    const auto lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
    if (error.file() != kFileName || error.line() < 0 || error.line() > lines ||
        std::string(error.what()).empty()) {
        fail("a refusal does not name the file and a line of it", error.what());
    }
}

// The host's run of a project: its records, and two steps of every tag's value.
void runPlant(const host::Project& project) {
    constexpr double kStartTime = 46000.375;  // a morning in 2025, in host days
    host::Plant plant(project);
    for (const host::IoRecords::Tag& tag : plant.io().tags()) {
        host::TagDriver driver(*tag.spec, 1);
        tag.record->Current = driver.next(std::chrono::milliseconds(0), kStartTime);
        tag.record->Current =
            driver.next(std::chrono::milliseconds(tag.spec->drive.scanMs), kStartTime);
    }
}

// The project written as a project file and read back.
host::Project rewritten(const host::Project& project) {
    pugi::xml_document document;
    host::writeProject(project, document);
    const std::string written = host::documentText(document);
    try {
        return host::ProjectFile::fromText(written, kFileName).model();
    } catch (const host::FileError& error) {
        fail("the project written back is refused", error.what() + ("\n" + written));
    }
}

// Reading normalises some texts (a CR in an element's text becomes LF, a text of blanks only is
// dropped), so the first rewrite may differ in them; the project it gives must then read back
// as itself.
void checkRoundTrip(const host::Project& project) {
    const host::Project settled = rewritten(project);
    if (rewritten(settled) != settled) {
        pugi::xml_document document;
        host::writeProject(settled, document);
        fail("a written project reads back as another project", host::documentText(document));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const host::ProjectLimits limits = fuzzLimits();
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::optional<host::ProjectFile> file;
    try {
        file.emplace(host::ProjectFile::fromText(text, kFileName, limits));
    } catch (const host::FileError& error) {
        checkRefusal(error, text);
        return 0;
    }
    runPlant(file->model());
    checkRoundTrip(file->model());
    return 0;
}
