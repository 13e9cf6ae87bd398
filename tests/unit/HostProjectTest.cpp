// Project files: the demo project's round trip, and clear errors for missing and malformed files.
#include <gtest/gtest.h>

#include <set>

#include "host/core/DemoProject.h"
#include "host/core/FileError.h"
#include "host/core/Passwords.h"
#include "host/core/ProjectFile.h"
#include "tests/unit/HostTestSupport.h"

using namespace host;

namespace {

std::size_t countTags(const std::vector<IoNode>& nodes, std::set<int32_t>& sigTypes) {
    std::size_t count = 0;
    for (const IoNode& node : nodes) {
        if (node.tag) {
            ++count;
            sigTypes.insert(node.tag->sigType);
        } else {
            count += countTags(node.children, sigTypes);
        }
    }
    return count;
}

void collectUnits(const std::vector<UnitSpec>& units, std::vector<const UnitSpec*>& all) {
    for (const UnitSpec& unit : units) {
        all.push_back(&unit);
        collectUnits(unit.children, all);
    }
}

// A minimal project around a fragment placed inside the root element.
std::string projectText(const std::string& inside) {
    return "<?xml version=\"1.0\"?>\n<kelvane-project format=\"1\">\n" + inside +
           "</kelvane-project>\n";
}

// The error a project text gives, with the file name "p.xml".
FileError errorOf(const std::string& text, const ProjectLimits& limits = {}) {
    try {
        ProjectFile::fromText(text, "p.xml", limits);
    } catch (const FileError& error) {
        return error;
    }
    ADD_FAILURE() << "the project was accepted:\n" << text;
    return FileError("", 0, "");
}

}  // namespace

TEST(ProjectFile, DemoProjectRoundTripsThroughItsFile) {
    const Project demo = makeDemoProject();
    const ProjectFile file = ProjectFile::fromText(projectFileText(demo), "demo");
    EXPECT_EQ(file.model(), demo);
}

TEST(ProjectFile, DemoProjectIsASmallPlantWithEveryKindOfRecord) {
    const Project demo = makeDemoProject();
    std::set<int32_t> sigTypes;
    const std::size_t tags = countTags(demo.ioTree, sigTypes);
    EXPECT_GE(tags, 30u);
    EXPECT_LE(tags, 100u);
    EXPECT_EQ(sigTypes, (std::set<int32_t>{0, 1, 2}));

    std::vector<const UnitSpec*> units;
    collectUnits(demo.systemTree, units);
    std::set<int32_t> propTypes;
    int interfaces = 0;
    for (const UnitSpec* unit : units) {
        interfaces += unit->kind == UnitKind::Interface ? 1 : 0;
        for (const ParameterSpec& parameter : unit->parameters) {
            propTypes.insert(parameter.propType);
        }
    }
    EXPECT_EQ(interfaces, 2);
    for (int32_t type : {0, 3, 5, 11, 13, 14, 2, 4, 7, 8, 9, 10, 12, 1, 6}) {
        EXPECT_TRUE(propTypes.contains(type)) << "no parameter of type " << type;
    }
    EXPECT_TRUE(std::any_of(propTypes.begin(), propTypes.end(), [](int32_t type) {
        return type > 14;
    })) << "no parameter of another type";

    ASSERT_EQ(demo.users.size(), 2u);
    EXPECT_EQ(demo.users[0].id, "admin");
    EXPECT_TRUE(demo.users[0].mayWrite);
    EXPECT_TRUE(checkPassword("admin", demo.users[0].hash));
    EXPECT_EQ(demo.users[1].id, "viewer");
    EXPECT_FALSE(demo.users[1].mayWrite);
    EXPECT_TRUE(checkPassword("viewer", demo.users[1].hash));
    EXPECT_FALSE(checkPassword("admin", demo.users[1].hash));
}

TEST(ProjectFile, SyntheticProjectHasTheAskedNumberOfNumericTags) {
    const Project project = makeSyntheticProject(2500);
    std::set<int32_t> sigTypes;
    EXPECT_EQ(countTags(project.ioTree, sigTypes), 2500u);
    EXPECT_EQ(sigTypes, std::set<int32_t>{0});
    EXPECT_EQ(project.ioTree.size(), 3u);
}

TEST(ProjectFile, SavedFileKeepsThePluginSettings) {
    TempDir dir;
    const auto path = dir.write("plant.xml", projectFileText(makeDemoProject()));
    ProjectFile file = ProjectFile::load(path);
    pugi::xml_node settings = file.pluginSettings();
    settings.remove_children();
    settings.append_child("TCPServer").append_attribute("RunMode").set_value("2");
    file.save(path);

    ProjectFile again = ProjectFile::load(path);
    EXPECT_STREQ(again.pluginSettings().child("TCPServer").attribute("RunMode").value(), "2");
    EXPECT_EQ(again.model(), file.model());
    EXPECT_FALSE(std::filesystem::exists(path.string() + ".new"));
}

TEST(ProjectFileErrors, MissingFileNamesTheFile) {
    TempDir dir;
    try {
        ProjectFile::load(dir.path() / "absent.xml");
        FAIL() << "a missing file was accepted";
    } catch (const FileError& error) {
        EXPECT_EQ(error.file(), (dir.path() / "absent.xml").string());
        EXPECT_EQ(error.line(), 0);
        EXPECT_NE(std::string(error.what()).find("cannot open"), std::string::npos);
    }
}

TEST(ProjectFileErrors, MalformedXmlGivesFileAndLine) {
    TempDir dir;
    const auto path = dir.write("broken.xml", projectText("  <io-tree>\n    <group name=\"A\">\n"
                                                          "  </io-tree>\n"));
    try {
        ProjectFile::load(path);
        FAIL() << "a malformed file was accepted";
    } catch (const FileError& error) {
        EXPECT_EQ(error.file(), path.string());
        EXPECT_EQ(error.line(), 5);
        EXPECT_NE(std::string(error.what()).find(path.string() + ":5: malformed XML"),
                  std::string::npos)
            << error.what();
    }
}

TEST(ProjectFileErrors, MissingAndBadAttributesNameLineAndExpectation) {
    FileError noName =
        errorOf(projectText("<io-tree>\n<group name=\"G\">\n<tag id=\"1\"/>\n"
                            "</group>\n</io-tree>\n"));
    EXPECT_EQ(noName.line(), 5);
    EXPECT_NE(std::string(noName.what()).find("<tag> lacks the attribute \"name\""),
              std::string::npos)
        << noName.what();

    FileError decimals =
        errorOf(projectText("<io-tree>\n<tag name=\"T\" decimals=\"abc\"/>\n</io-tree>\n"));
    EXPECT_EQ(decimals.line(), 4);
    EXPECT_NE(std::string(decimals.what())
                  .find("attribute \"decimals\": expected an integer from -2 to 15, found \"abc\""),
              std::string::npos)
        << decimals.what();

    FileError typo =
        errorOf(projectText("<io-tree>\n<tag name=\"T\" decimal=\"2\"/>\n</io-tree>\n"));
    EXPECT_NE(std::string(typo.what()).find("unknown attribute \"decimal\" on <tag>"),
              std::string::npos)
        << typo.what();

    FileError guid = errorOf(projectText("<io-tree><tag name=\"T\" guid=\"{1234}\"/></io-tree>\n"));
    EXPECT_NE(std::string(guid.what()).find("attribute \"guid\""), std::string::npos);

    FileError station =
        errorOf(projectText("<system-tree>\n<interface>\n<station model=\"M\"/>\n"
                            "</interface>\n</system-tree>\n"));
    EXPECT_EQ(station.line(), 5);
    EXPECT_NE(std::string(station.what()).find("<station> lacks the attribute \"name\""),
              std::string::npos);

    FileError parameter =
        errorOf(projectText("<system-tree><station name=\"S\">\n<parameter name=\"P\" type=\"2\" "
                            "writer=\"sometimes\"/>\n</station></system-tree>\n"));
    EXPECT_NE(std::string(parameter.what())
                  .find("attribute \"writer\": expected one of normal, raises, none"),
              std::string::npos)
        << parameter.what();
}

TEST(ProjectFileErrors, InconsistentContentIsRefused) {
    EXPECT_NE(std::string(errorOf("<other/>").what()).find("expected the root element"),
              std::string::npos);
    EXPECT_NE(std::string(errorOf(projectText("<io-tree><tag name=\"T\" sig-type=\"1\"><drive "
                                              "kind=\"cycle\"/></tag></io-tree>"))
                              .what())
                  .find("needs the tag's <values>"),
              std::string::npos);
    EXPECT_NE(std::string(errorOf(projectText("<system-tree><station name=\"S\" "
                                              "parent-unit=\"nowhere\"/></system-tree>"))
                              .what())
                  .find("no unit has the key \"nowhere\""),
              std::string::npos);
    EXPECT_NE(
        std::string(errorOf(projectText("<users><user id=\"u\" hash=\"secret\"/></users>")).what())
            .find("crypt(3) password hash"),
        std::string::npos);
    EXPECT_NE(
        std::string(errorOf(projectText("<system-tree><station name=\"S\"><parameter "
                                        "name=\"P\" type=\"0\" unit=\"" +
                                        std::string(40, 'u') + "\"/></station></system-tree>"))
                        .what())
            .find("at most 31 characters fit"),
        std::string::npos);
}

TEST(ProjectFileErrors, RepeatedSectionIsRefusedAtItsLine) {
    for (const std::string section :
         {"project", "map", "users", "io-tree", "system-tree", "plugin-settings"}) {
        const FileError error = errorOf(projectText("<" + section + "/>\n<" + section + "/>\n"));
        EXPECT_EQ(error.line(), 4) << section;
        EXPECT_NE(std::string(error.what()).find("<" + section + "> appears twice"),
                  std::string::npos)
            << error.what();
    }
}

TEST(ProjectFileErrors, BoundsAreEnforced) {
    ProjectLimits small;
    small.maxFileBytes = 100;
    EXPECT_NE(std::string(errorOf(projectText(std::string(200, ' ')), small).what())
                  .find("larger than the limit of 100 bytes"),
              std::string::npos);

    ProjectLimits twoTags;
    twoTags.maxTags = 2;
    FileError tags = errorOf(
        projectText(
            "<io-tree>\n<tag name=\"A\"/>\n<tag name=\"B\"/>\n<tag name=\"C\"/>\n</io-tree>\n"),
        twoTags);
    EXPECT_EQ(tags.line(), 6);
    EXPECT_NE(std::string(tags.what()).find("more tags than the limit of 2"), std::string::npos);

    ProjectLimits shallow;
    shallow.maxTreeDepth = 2;
    EXPECT_NE(std::string(errorOf(projectText("<io-tree><group name=\"1\"><group name=\"2\"><group "
                                              "name=\"3\"/></group></group></io-tree>"),
                                  shallow)
                              .what())
                  .find("nested deeper than the limit of 2"),
              std::string::npos);
}
