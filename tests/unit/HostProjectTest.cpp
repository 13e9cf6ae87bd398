// Project files: the demo project's round trip, and clear errors for missing and malformed files
// (saving one: HostProgramTest's --save).
#include <gtest/gtest.h>

#include "host/core/DemoProject.h"
#include "host/core/FileError.h"
#include "host/core/IoRecords.h"
#include "host/core/Passwords.h"
#include "host/core/ProjectFile.h"
#include "tests/unit/HostTestSupport.h"

using namespace host;

namespace {

// A minimal project around a fragment placed inside the root element (from line 3 on).
std::string projectText(const std::string& inside) {
    return "<?xml version=\"1.0\"?>\n<kelvane-project format=\"1\">\n" + inside +
           "</kelvane-project>\n";
}

}  // namespace

TEST(ProjectFile, DemoProjectRoundTripsThroughItsFileWithTheDocumentedUsers) {
    const Project demo = makeDemoProject();
    EXPECT_EQ(ProjectFile::fromText(projectFileText(demo), "demo").model(), demo);
    // The users the docs name: admin/admin may write, viewer/viewer may not.
    ASSERT_EQ(demo.users.size(), 2u);
    EXPECT_EQ(demo.users[0].id, "admin");
    EXPECT_TRUE(demo.users[0].mayWrite);
    EXPECT_TRUE(checkPassword("admin", demo.users[0].hash));
    EXPECT_EQ(demo.users[1].id, "viewer");
    EXPECT_FALSE(demo.users[1].mayWrite);
    EXPECT_TRUE(checkPassword("viewer", demo.users[1].hash));
}

TEST(ProjectFile, SyntheticProjectHasTheAskedNumberOfNumericTags) {
    const Project synthetic = makeSyntheticProject(2500);
    const IoRecords io(synthetic.ioTree);
    ASSERT_EQ(io.tags().size(), 2500u);
    for (const IoRecords::Tag& tag : io.tags()) {
        ASSERT_EQ(tag.spec->sigType, 0);
    }
}

TEST(ProjectFile, MissingFileIsNamed) {
    try {
        ProjectFile::load("/nonexistent/absent.xml");
        FAIL() << "a missing file was accepted";
    } catch (const FileError& error) {
        EXPECT_EQ(
            std::string(error.what()).rfind("/nonexistent/absent.xml: cannot open the file", 0), 0u)
            << error.what();
    }
}

// Each refusal names the file, the line (0: the whole file) and what was expected.
TEST(ProjectFile, BadFilesAreRefusedWithFileLineAndReason) {
    ProjectLimits small;
    small.maxFileBytes = 300;
    small.maxTags = 2;
    small.maxTreeDepth = 2;
    const struct {
        std::string text;
        int line;
        std::string reason;
    } cases[] = {
        {projectText("<io-tree>\n<group name=\"A\">\n</io-tree>\n"), 5, "malformed XML"},
        {"<other/>", 1, "expected the root element"},
        {projectText("<io-tree>\n<tag id=\"1\"/>\n</io-tree>\n"), 4,
         "<tag> lacks the attribute \"name\""},
        {projectText("<io-tree>\n<tag name=\"T\" decimals=\"abc\"/>\n</io-tree>\n"), 4,
         "attribute \"decimals\": expected an integer from -2 to 15, found \"abc\""},
        {projectText("<io-tree><tag name=\"T\" decimal=\"2\"/></io-tree>"), 3,
         "unknown attribute \"decimal\" on <tag>"},
        {projectText("<io-tree><tag name=\"T\" guid=\"{1234}\"/></io-tree>"), 3,
         "attribute \"guid\""},
        {projectText("<system-tree>\n<interface>\n<station model=\"M\"/>\n</interface>\n"
                     "</system-tree>\n"),
         5, "<station> lacks the attribute \"name\""},
        {projectText("<system-tree><station name=\"S\"><parameter name=\"P\" type=\"2\" "
                     "writer=\"sometimes\"/></station></system-tree>"),
         3, "attribute \"writer\": expected one of normal, raises, none"},
        {projectText("<io-tree><tag name=\"T\" sig-type=\"1\"><drive kind=\"cycle\"/></tag>"
                     "</io-tree>"),
         3, "needs the tag's <values>"},
        {projectText("<system-tree><station name=\"S\" parent-unit=\"nowhere\"/></system-tree>"), 3,
         "no unit has the key \"nowhere\""},
        {projectText("<users><user id=\"u\" hash=\"secret\"/></users>"), 3,
         "crypt(3) password hash"},
        {projectText("<system-tree><station name=\"S\"><parameter name=\"P\" type=\"0\" unit=\"" +
                     std::string(40, 'u') + "\"/></station></system-tree>"),
         3, "at most 31 characters fit"},
        {projectText("<users/>\n<users/>\n"), 4, "<users> appears twice"},
        {projectText(std::string(300, ' ')), 0, "larger than the limit of 300 bytes"},
        {projectText("<io-tree>\n<tag name=\"A\"/>\n<tag name=\"B\"/>\n<tag name=\"C\"/>\n"
                     "</io-tree>\n"),
         6, "more tags than the limit of 2"},
        {projectText("<io-tree><group name=\"1\"><group name=\"2\"><group name=\"3\"/>"
                     "</group></group></io-tree>"),
         3, "nested deeper than the limit of 2"},
    };
    for (const auto& each : cases) {
        try {
            ProjectFile::fromText(each.text, "p.xml", small);
            ADD_FAILURE() << "accepted: " << each.text;
        } catch (const FileError& error) {
            EXPECT_EQ(error.file(), "p.xml");
            EXPECT_EQ(error.line(), each.line) << error.what();
            EXPECT_NE(std::string(error.what()).find(each.reason), std::string::npos)
                << error.what();
        }
    }
}
