// Chunk diagnostics under the setting ChunkLogging: the event-log lines and
// the segment files of decoded bodies.
#include "MessageFile.h"

#include "common/CEventLog.h"
#include "common/ProgramContext.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

class ChunkLogging : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_root / "state");
        m_saved = programContext();
        programContext().dataRoot = m_root.path();
        programContext().chunkLogging = true;
        CEventLog::Initialize((m_root / "log").c_str(), "test", "qf");
        CEventLog::SetLogging(0xffff);
    }
    void TearDown() override
    {
        CEventLog::Uninitialize();
        programContext() = m_saved;
    }

    std::string logText() const
    {
        std::string text;
        for (const auto& entry : std::filesystem::directory_iterator(m_root / "log"))
            text += readFile(entry.path().string());
        return text;
    }

    std::vector<std::string> segmentFiles() const
    {
        std::vector<std::string> contents;
        for (const auto& entry : std::filesystem::directory_iterator(m_root / "state")) {
            if (entry.path().filename().string().starts_with("segment"))
                contents.push_back(readFile(entry.path().string()));
        }
        std::sort(contents.begin(), contents.end());
        return contents;
    }

    static std::string identity(const Chunk& chunk)
    {
        char text[16];
        std::snprintf(text, sizeof text, "%08x", chunk.identity());
        return text;
    }

    TempDir m_root;
    ProgramContext m_saved;
};

TEST_F(ChunkLogging, LogsEachStepUnderTheChunksIdentity)
{
    std::string first;
    std::string second;
    {
        ParsedMessage message("Content-Type: multipart/mixed; boundary=b\r\n\r\n"
                              "--b\r\nContent-Type: text/html\r\n\r\n<p>Hello<br>there\r\n--b--\r\n");
        ASSERT_EQ(message.count(), 2u);
        message.chunk(2).parseBodyWords(message.file());
        message.chunk(2).parseHeaderWords(message.file());
        first = identity(message.chunk(1));
        second = identity(message.chunk(2));
        EXPECT_NE(first, second);
    }
    const std::string log = logText();
    for (const std::string& line :
         {"New chunk " + first, "Parsing header " + first, "Parsing chunk structure " + first,
          "New chunk " + second, "Parsing chunk structure " + second, "Decoding chunk body " + second,
          "Parsing body words " + second, std::string("Parsing header words"), "Deleting chunk " + first,
          "Deleting chunk " + second})
        EXPECT_NE(log.find(line), std::string::npos) << "missing: " << line << "\nin:\n" << log;
    EXPECT_EQ(segmentFiles(), (std::vector<std::string>{" Hello there\r\n"}));
}

TEST_F(ChunkLogging, SegmentFileHoldsTheTextUpToItsFirstNul)
{
    ParsedMessage message(std::string("Content-Transfer-Encoding: base64\r\n\r\nYWIAY2Q=\r\n"));
    message.whole().decodeBody(message.file());
    EXPECT_EQ(segmentFiles(), (std::vector<std::string>{"ab"}));
}

TEST_F(ChunkLogging, OffWritesNothing)
{
    programContext().chunkLogging = false;
    {
        ParsedMessage message("Subject: quiet\r\n\r\nbody\r\n");
        message.whole().parseBodyWords(message.file());
    }
    EXPECT_EQ(logText().find("chunk"), std::string::npos);
    EXPECT_TRUE(segmentFiles().empty());
}

TEST_F(ChunkLogging, MissingStateFolderSkipsTheSegmentFile)
{
    std::filesystem::remove_all(m_root / "state");
    ParsedMessage message("Subject: s\r\n\r\nbody\r\n");
    message.whole().decodeBody(message.file());
    EXPECT_STREQ(message.whole().decodedBody(), "body\r\n");
    EXPECT_FALSE(std::filesystem::exists(m_root / "state"));
}

} // namespace
