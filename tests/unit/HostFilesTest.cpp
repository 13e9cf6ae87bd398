// The host's files: the demo project's round trip and the synthetic project, the language files'
// entries, and clear errors for missing and malformed files (saving a project: HostProgramTest's
// --save).
#include <gtest/gtest.h>

#include <tuple>

#include "host/core/DemoProject.h"
#include "host/core/FileError.h"
#include "host/core/IoRecords.h"
#include "host/core/LanguageTexts.h"
#include "host/core/Passwords.h"
#include "host/core/ProjectFile.h"
#include "tests/unit/HostTestSupport.h"

using namespace host;

namespace {

const std::filesystem::path kLanguages = std::filesystem::path(DAQ_BIN_DIR) / "lang";

// A minimal project around a fragment placed inside the root element (from line 3 on).
std::string projectText(const std::string& inside) {
    return "<?xml version=\"1.0\"?>\n<kelvane-project format=\"1\">\n" + inside +
           "</kelvane-project>\n";
}

// Every entry the server window reads, and the printf arguments each one must take.
struct Use {
    int entry;
    const char* arguments;  // the conversions in order, e.g. "sd"
};
constexpr Use kUses[] = {{1, ""},  {2, ""},   {3, ""},   {5, ""},  {6, ""},    {10, ""}, {13, ""},
                         {14, ""}, {15, ""},  {16, ""},  {17, ""}, {18, ""},   {19, ""}, {22, "s"},
                         {23, ""}, {24, "s"}, {25, "s"}, {27, ""}, {29, "sd"}, {34, ""}, {35, ""},
                         {36, ""}, {37, ""},  {38, ""},  {39, ""}, {40, ""},   {42, ""}, {43, ""}};

std::string conversions(const std::string& text) {
    std::string found;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '%') {
            found += text[++i];
        }
    }
    return found;
}

}  // namespace

TEST(ProjectFile, DemoProjectRoundTripsThroughItsFileWithTheDocumentedUsers) {
    const Project demo = makeDemoProject();
    EXPECT_EQ(ProjectFile::fromText(projectFileText(demo), "demo").model(), demo);
    // The users the docs name: admin/admin may write, viewer/viewer may not.
    ASSERT_EQ(demo.users.size(), 2u);
    EXPECT_EQ(demo.users[0].id + " " + demo.users[1].id, "admin viewer");
    for (const UserSpec& user : demo.users) {
        EXPECT_TRUE(checkPassword(user.id, user.hash)) << user.id;
        EXPECT_EQ(user.mayWrite, user.id == "admin") << user.id;
    }
}

TEST(ProjectFile, SyntheticProjectHasTheAskedNumberOfNumericAndChangingTags) {
    // Changing tags asked for, tags that get a new value every 100 ms, every second.
    for (const auto& [changing, fast, slow] :
         {std::tuple{0u, 0u, 2500u}, std::tuple{1000u, 1000u, 0u}}) {
        const Project synthetic = makeSyntheticProject(2500, changing);
        const IoRecords io(synthetic.ioTree);
        ASSERT_EQ(io.tags().size(), 2500u);
        std::size_t every100 = 0;
        std::size_t every1000 = 0;
        for (const IoRecords::Tag& tag : io.tags()) {
            ASSERT_EQ(tag.spec->sigType, 0);
            every100 += tag.spec->drive.scanMs == 100 ? 1 : 0;
            every1000 += tag.spec->drive.scanMs == 1000 ? 1 : 0;
        }
        EXPECT_EQ(every100, fast) << changing;
        EXPECT_EQ(every1000, slow) << changing;
    }
}

TEST(LanguageTexts, EnglishAndKoreanSupplyEveryEntryTheServerUses) {
    for (const char* code : {"en", "ko"}) {
        const LanguageTexts texts = LanguageTexts::load(code, kLanguages);
        EXPECT_EQ(texts.entryCount(), 44) << code;
        for (const Use& use : kUses) {
            const std::string text = texts.entry(use.entry);
            EXPECT_FALSE(text.empty()) << code << " entry " << use.entry;
            EXPECT_EQ(conversions(text), use.arguments) << code << " entry " << use.entry;
        }
    }
    EXPECT_EQ(LanguageTexts::load("ko", kLanguages).entry(5), "로그인 사용자");
    EXPECT_EQ(LanguageTexts::load("en", kLanguages).entry(44), "") << "an entry the file lacks";
}

// Each refusal names the file, the line (0: the whole file) and what was expected.
TEST(HostFiles, BadFilesAreRefusedWithFileLineAndReason) {
    TempDir dir;
    ProjectLimits small;
    small.maxFileBytes = 300;
    small.maxTags = 2;
    small.maxTreeDepth = 2;
    const struct {
        std::string text;  // empty: no file
        int line;
        std::string reason;
        bool language = false;
    } cases[] = {
        {"", 0, "cannot open the file"},
        {"<language>\n<_11>\n<text n=\"0\">a</text>\n<text n=\"2\">b</text>\n</_11>\n</language>\n",
         4, "expected n=\"1\"", true},
        {"<language>\n  <_12/>\n</language>\n", 1, "expected a child element <_11>", true},
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
        {projectText("<users owner=\"x\"/>"), 3, "unknown attribute \"owner\" on <users>"},
        {projectText("<io-tree><tag name=\"T\"><drive kind=\"ramp\" min=\"low\"/></tag></io-tree>"),
         3, "expected a number, found \"low\""},
        {projectText(std::string(300, ' ')), 0, "larger than the limit of 300 bytes"},
        {projectText("<io-tree>\n<tag name=\"A\"/>\n<tag name=\"B\"/>\n<tag name=\"C\"/>\n"
                     "</io-tree>\n"),
         6, "more tags than the limit of 2"},
        {projectText("<io-tree><group name=\"1\"><group name=\"2\"><group name=\"3\"/>"
                     "</group></group></io-tree>"),
         3, "nested deeper than the limit of 2"},
    };
    const std::filesystem::path file = dir.path() / "p.xml";
    for (const auto& each : cases) {
        std::filesystem::remove(file);
        if (!each.text.empty()) {
            dir.write("p.xml", each.text);
        }
        try {
            each.language ? (void)LanguageTexts::load(file.string(), kLanguages)
                          : (void)ProjectFile::load(file, small);
            ADD_FAILURE() << "accepted: " << each.text;
        } catch (const FileError& error) {
            const std::string what = error.what();
            const std::string line = each.line > 0 ? ":" + std::to_string(each.line) : "";
            EXPECT_EQ(what.rfind(file.string() + line + ": ", 0), 0u) << what;
            EXPECT_NE(what.find(each.reason), std::string::npos) << what;
        }
    }
    EXPECT_THROW(LanguageTexts::load("xx", kLanguages), FileError) << "no such language";
}
