// Language files. The XML nodes plug-ins read them through: the window tests (PluginTestSupport.h)
// and HostSessionTest (the plug-in's settings).
#include <gtest/gtest.h>

#include "host/core/FileError.h"
#include "host/core/LanguageTexts.h"
#include "tests/unit/HostTestSupport.h"

using namespace host;

namespace {

const std::filesystem::path kLanguages = std::filesystem::path(DAQ_BIN_DIR) / "lang";

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

TEST(LanguageTexts, FilesAreCheckedWhenRead) {
    TempDir dir;
    const struct {
        std::string text;
        int line;
        std::string reason;
    } cases[] = {
        {"<language>\n<_11>\n<text n=\"0\">a</text>\n<text n=\"2\">b</text>\n</_11>\n</language>\n",
         4, "expected n=\"1\""},
        {"<language>\n  <_12/>\n</language>\n", 1, "expected a child element <_11>"},
    };
    for (const auto& each : cases) {
        try {
            LanguageTexts::load(dir.write("x.xml", each.text).string(), kLanguages);
            ADD_FAILURE() << "accepted: " << each.text;
        } catch (const FileError& error) {
            EXPECT_EQ(error.line(), each.line);
            EXPECT_NE(std::string(error.what()).find(each.reason), std::string::npos)
                << error.what();
        }
    }
    EXPECT_THROW(LanguageTexts::load("xx", kLanguages), FileError) << "no such language";
}
