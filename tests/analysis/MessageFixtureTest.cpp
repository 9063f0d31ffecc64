// Real-world message shapes from tests/data/messages: each NAME.eml is checked
// against the facts listed in NAME.expected, one per line:
//   chunks N                      number of chunks after the structure parse
//   type K TEXT                   CONTENT-TYPE of chunk K
//   header K NAME TEXT            any header of chunk K
//   headercount K N               distinct header names of chunk K
//   decoded K TEXT | -            decoded body of chunk K ("-": none)
//   decodedlength K N             length of that text
//   bodywords K N / headerwords K N         distinct words
//   bodyword K WORD N / headerword K WORD N occurrences of one word
//   match raw|decoded K PATTERN yes|no      body pattern matches
// TEXT, WORD and PATTERN take \r \n \t \\ and \xHH escapes.
#include "MessageFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string unescape(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char kind = text[++i];
        if (kind == 'r')
            out += '\r';
        else if (kind == 'n')
            out += '\n';
        else if (kind == 't')
            out += '\t';
        else if (kind == 'x' && i + 2 < text.size() + 1) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else
            out += kind;
    }
    return out;
}

// The rest of the line after n space-separated fields, unescaped.
std::string restAfter(const std::string& line, int fields)
{
    size_t pos = 0;
    for (int i = 0; i < fields && pos != std::string::npos; ++i) {
        pos = line.find(' ', pos);
        if (pos != std::string::npos)
            ++pos;
    }
    return pos == std::string::npos ? std::string() : unescape(line.substr(pos));
}

std::vector<std::string> fixtureNames()
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(TEST_MESSAGES)) {
        if (entry.path().extension() == ".eml")
            names.push_back(entry.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class MessageFixture : public ::testing::TestWithParam<std::string> {};

TEST_P(MessageFixture, MatchesItsExpectedFacts)
{
    const std::string base = std::string(TEST_MESSAGES) + "/" + GetParam();
    std::ifstream expected(base + ".expected");
    ASSERT_TRUE(expected) << "no " << base << ".expected";
    ParsedMessage message(MessageFile::FromPath{}, base + ".eml");
    FILE* file = message.file();

    int facts = 0;
    std::string line;
    while (std::getline(expected, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        SCOPED_TRACE(line);
        ++facts;
        std::istringstream fields(line);
        std::string kind;
        size_t n = 0;
        fields >> kind;
        if (kind == "chunks") {
            fields >> n;
            EXPECT_EQ(message.count(), n);
            continue;
        }
        if (kind == "match") {
            std::string which;
            fields >> which >> n;
            ASSERT_LE(n, message.count());
            const std::string rest = restAfter(line, 3);
            const std::string pattern = rest.substr(0, rest.rfind(' '));
            const bool want = rest.substr(rest.rfind(' ') + 1) == "yes";
            Chunk& chunk = message.chunk(n);
            const bool got = which == "raw" ? chunk.matchRawBody(file, pattern.c_str())
                                            : chunk.matchDecodedBody(file, pattern.c_str());
            EXPECT_EQ(got, want);
            continue;
        }
        fields >> n;
        ASSERT_GE(n, 1u);
        ASSERT_LE(n, message.count());
        Chunk& chunk = message.chunk(n);
        if (kind == "type") {
            EXPECT_EQ(message.header(n, "CONTENT-TYPE"), restAfter(line, 2));
        } else if (kind == "header") {
            std::string name;
            fields >> name;
            EXPECT_EQ(message.header(n, name), restAfter(line, 3));
        } else if (kind == "headercount") {
            int count = 0;
            fields >> count;
            EXPECT_EQ(chunk.headerCount(file), count);
        } else if (kind == "decoded" || kind == "decodedlength") {
            chunk.decodeBody(file);
            const char* decoded = chunk.decodedBody();
            if (kind == "decodedlength") {
                ASSERT_NE(decoded, nullptr);
                EXPECT_EQ(std::strlen(decoded), std::stoul(restAfter(line, 2)));
            } else if (restAfter(line, 2) == "-") {
                EXPECT_EQ(decoded, nullptr);
            } else {
                ASSERT_NE(decoded, nullptr);
                EXPECT_EQ(std::string(decoded), restAfter(line, 2));
            }
        } else if (kind == "bodywords" || kind == "headerwords") {
            size_t count = 0;
            fields >> count;
            if (kind == "bodywords") {
                chunk.parseBodyWords(file);
                EXPECT_EQ(chunk.bodyWords().size(), count);
            } else {
                chunk.parseHeaderWords(file);
                EXPECT_EQ(chunk.headerWords().size(), count);
            }
        } else if (kind == "bodyword" || kind == "headerword") {
            std::string word;
            int count = 0;
            fields >> word >> count;
            word = unescape(word);
            EXPECT_EQ(kind == "bodyword" ? chunk.bodyWordCount(file, word) : chunk.headerWordCount(file, word),
                      count);
        } else {
            ADD_FAILURE() << "unknown fact";
        }
    }
    EXPECT_GT(facts, 0);
}

INSTANTIATE_TEST_SUITE_P(Messages, MessageFixture, ::testing::ValuesIn(fixtureNames()),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             }
                             return name;
                         });

} // namespace
