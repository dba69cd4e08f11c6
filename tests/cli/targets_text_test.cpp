// A targets file's text read from memory gives what the file gives: the same targets, or the same
// failure with the file's name in place of the text's.
#include "service/targets.h"
#include "support/file_io.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace tolvane::cli {
namespace {

struct TextCase {
    const char* name;
    std::string text;
    // Targets as "HOST:PORT", or the start of the failure after the name.
    std::vector<std::string> targets;
    std::string failure;
};

void PrintTo(const TextCase& c, std::ostream* out)
{
    *out << c.name;
}

std::vector<std::string> textsOf(const std::vector<DownloadTarget>& targets)
{
    std::vector<std::string> texts;
    for (const DownloadTarget& target : targets)
        texts.push_back(targetText(target));
    return texts;
}

std::string repeated(const std::string& text, int times)
{
    std::string all;
    for (int i = 0; i < times; ++i)
        all += text;
    return all;
}

class TargetsText : public ::testing::TestWithParam<TextCase> {
protected:
    test::TempDir m_dir;
};

TEST_P(TargetsText, ReadsAsTheFile)
{
    const TextCase& c = GetParam();
    const std::string path = m_dir.file("targets");
    test::writeFileBytes(path, std::vector<std::uint8_t>(c.text.begin(), c.text.end()));

    std::string fileError;
    std::string textError;
    const auto fromFile = service::readTargetsFile(path, &fileError);
    const auto fromText = service::readTargetsText(c.text, "T", &textError);
    ASSERT_EQ(fromFile.has_value(), c.failure.empty()) << fileError;
    ASSERT_EQ(fromText.has_value(), c.failure.empty()) << textError;
    if (fromFile) {
        EXPECT_EQ(textsOf(*fromFile), c.targets);
        EXPECT_EQ(textsOf(*fromText), c.targets);
    } else {
        EXPECT_EQ(fileError.rfind(path + c.failure, 0), 0u) << fileError;
        EXPECT_EQ(textError, "T" + fileError.substr(path.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TargetsText,
    ::testing::Values(TextCase{"Empty", "", {}, ""},
                      TextCase{"LastLineWithoutNewline",
                               "# bench\n\n127.0.0.1:6001 # first\r\n  127.0.0.3\t\n127.0.0.1:7",
                               {"127.0.0.1:6001", "127.0.0.3:5000", "127.0.0.1:7"},
                               ""},
                      TextCase{"BadLineNamedByNumber", "127.0.0.1\n\n127.0.0.01\n", {}, ":3: "},
                      TextCase{"LineOfAThousandBytes", std::string(999, ' ') + "#", {}, ""},
                      TextCase{"LineOfAThousandAndOneBytes",
                               std::string(1000, ' ') + "#",
                               {},
                               ":1: a line longer than 1000 bytes"},
                      // What is echoed of a bad line cannot drive the terminal, nor hide.
                      TextCase{"ByteOrderMarkEchoedAsHex",
                               "\xEF\xBB\xBF"
                               "127.0.0.1\n",
                               {},
                               ":1: not an IPv4 address with an optional port: "
                               "\\xEF\\xBB\\xBF127.0.0.1"},
                      TextCase{"NulEchoedAsHex",
                               std::string("127.0.0.1\0:5000\n", 16),
                               {},
                               ":1: not an IPv4 address with an optional port: "
                               "127.0.0.1\\x00:5000"},
                      TextCase{"ControlBytesEchoedAsHex",
                               "127.0.0.1\n127.0.0.2\x1B[2J\x07\xC2\x9B\xFF\n",
                               {},
                               ":2: not an IPv4 address with an optional port: "
                               "127.0.0.2\\x1B[2J\\x07\\xC2\\x9B\\xFF"},
                      // 150 bytes, each shown in four characters: the echo is cut at 200.
                      TextCase{"EscapedEchoCutAtTwoHundred",
                               std::string(150, '\x01'),
                               {},
                               ":1: not an IPv4 address with an optional port: " +
                                   repeated("\\x01", 50) + "..."}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(TargetsTextSize, MoreThanAMebibyteIsRefused)
{
    std::string error;
    EXPECT_FALSE(service::readTargetsText(std::string(1024 * 1024 + 1, '\n'), "T", &error));
    EXPECT_EQ(error, "targets file T is larger than 1 MiB");
    EXPECT_TRUE(service::readTargetsText(std::string(1024 * 1024, '\n'), "T", &error));
}

} // namespace
} // namespace tolvane::cli
