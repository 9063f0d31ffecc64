// A message as the filter meets it: a file in a temporary folder, open for
// binary reading, and the chunk list built over it.
#pragma once

#include "analysis/Chunk.h"
#include "support/TestHelpers.h"

#include <cstdio>
#include <memory>
#include <string>

class MessageFile
{
public:
    explicit MessageFile(const std::string& content) : m_path(m_dir / "msg00001.msg")
    {
        writeFile(m_path, content);
        open(m_path);
    }
    struct FromPath {};
    MessageFile(FromPath, const std::string& path) : m_path(path) { open(path); }
    ~MessageFile()
    {
        if (m_file)
            std::fclose(m_file);
    }
    MessageFile(const MessageFile&) = delete;
    MessageFile& operator=(const MessageFile&) = delete;

    FILE* get() const { return m_file; }
    const std::string& path() const { return m_path; }

private:
    void open(const std::string& path)
    {
        m_file = std::fopen(path.c_str(), "rb");
        if (m_file == nullptr)
            throw std::runtime_error("cannot open " + path);
    }

    TempDir m_dir;
    std::string m_path;
    FILE* m_file = nullptr;
};

// The whole-message chunk and, once structure() runs, every part.
class ParsedMessage
{
public:
    explicit ParsedMessage(const std::string& content) : m_file(content) { start(); }
    ParsedMessage(MessageFile::FromPath tag, const std::string& path) : m_file(tag, path) { start(); }

    FILE* file() const { return m_file.get(); }
    Chunk& whole() { return *m_chunks.front(); }
    // Builds the full list once; chunk n is 1-based, as rules count.
    Chunk::List& structure()
    {
        if (!m_structured) {
            m_chunks.front()->parseStructure(true, file(), m_chunks, nullptr);
            m_structured = true;
        }
        return m_chunks;
    }
    Chunk& chunk(size_t n) { return *structure().at(n - 1); }
    size_t count() { return structure().size(); }

    std::string header(size_t n, const std::string& name)
    {
        std::string value = "<absent>";
        chunk(n).getHeader(file(), name, value);
        return value;
    }

private:
    void start()
    {
        m_chunks.push_back(std::make_unique<Chunk>(0));
        m_chunks.front()->parseStructure(false, file(), m_chunks, nullptr);
    }

    MessageFile m_file;
    Chunk::List m_chunks;
    bool m_structured = false;
};
