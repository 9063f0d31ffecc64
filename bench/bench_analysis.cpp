// Message analysis over typical messages: a 4 KB plain text, a 30 KB
// multipart/alternative with a quoted-printable HTML part, and a 300 KB
// message with a base64 attachment.  Each step is timed on its own, on fresh
// chunks over a real file, and reported in microseconds and bytes per second
// of the text it works on.
#include "analysis/Chunk.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

std::string headers(const std::string& contentType)
{
    return "Return-Path: <news@list.example>\r\n"
           "Received: from mx.example.net (mx.example.net [192.0.2.1])\r\n"
           "\tby mail.example.org with ESMTP id 1A2B3C; Mon, 7 Dec 2026 09:00:00 +0000\r\n"
           "Received: from list.example (list.example [198.51.100.2])\r\n"
           "\tby mx.example.net; Mon, 7 Dec 2026 08:59:58 +0000\r\n"
           "From: \"List\" <news@list.example>\r\n"
           "To: reader@example.org\r\n"
           "Subject: Weekly offers and news\r\n"
           "Date: Mon, 7 Dec 2026 08:59:55 +0000\r\n"
           "Message-ID: <20261207085955.1234@list.example>\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: " + contentType + "\r\n\r\n";
}

std::string prose(size_t size, const std::string& lineEnd)
{
    const std::string line = "Get your free money today, act fast: limited offer for our readers" + lineEnd;
    std::string text;
    while (text.size() + line.size() <= size)
        text += line;
    return text;
}

std::string plainMessage()
{
    return headers("text/plain; charset=us-ascii") + prose(3500, "\r\n") + ".\r\n";
}

std::string alternativeMessage()
{
    std::string html;
    while (html.size() < 18000)
        html += "<tr><td class=3D\"offer\">Free <b>money</b> today</td><td>act fast=\r\n</td></tr><br>\r\n";
    return headers("multipart/alternative; boundary=\"alt-1\"") + "--alt-1\r\n"
           "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
           prose(9000, "\r\n") + "--alt-1\r\n"
           "Content-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
           html + "--alt-1--\r\n.\r\n";
}

std::string attachmentMessage()
{
    std::string base64;
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t line = 0; base64.size() < 290000; ++line) {
        for (size_t i = 0; i < 76; ++i)
            base64 += alphabet[(line * 7 + i * 13) % 64];
        base64 += "\r\n";
    }
    return headers("multipart/mixed; boundary=mix") + "--mix\r\nContent-Type: text/plain\r\n\r\n" +
           prose(2000, "\r\n") + "--mix\r\nContent-Type: application/pdf; name=\"report.pdf\"\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n" + base64 + "--mix--\r\n.\r\n";
}

class SpooledFile
{
public:
    explicit SpooledFile(const std::string& content)
    {
        char path[] = "/tmp/qfbench.XXXXXX";
        const int fd = ::mkstemp(path);
        if (fd < 0)
            std::abort();
        ::unlink(path);
        m_file = ::fdopen(fd, "w+b");
        std::fwrite(content.data(), 1, content.size(), m_file);
        std::fflush(m_file);
    }
    ~SpooledFile() { std::fclose(m_file); }
    FILE* get() const { return m_file; }

private:
    FILE* m_file;
};

enum class Step { Header, Structure, Decoding, BodyWords };

void analyse(benchmark::State& state, const std::string& content, Step step)
{
    SpooledFile file(content);
    int64_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Chunk::List list;
        list.push_back(std::make_unique<Chunk>(0));
        if (step == Step::Decoding || step == Step::BodyWords) {
            list[0]->parseStructure(true, file.get(), list, nullptr);
            if (step == Step::BodyWords) {
                for (auto& chunk : list)
                    chunk->decodeBody(file.get());
            }
        }
        state.ResumeTiming();
        switch (step) {
        case Step::Header:
            list[0]->parseHeader(file.get());
            bytes += list[0]->bodyStart();
            break;
        case Step::Structure:
            list[0]->parseStructure(true, file.get(), list, nullptr);
            bytes += static_cast<int64_t>(content.size());
            break;
        case Step::Decoding:
            for (auto& chunk : list) {
                chunk->decodeBody(file.get());
                if (chunk->decodedBody())
                    bytes += chunk->chunkEnd() - chunk->bodyStart();
            }
            break;
        case Step::BodyWords:
            for (auto& chunk : list) {
                chunk->parseBodyWords(file.get());
                if (chunk->decodedBody())
                    bytes += static_cast<int64_t>(std::strlen(chunk->decodedBody()));
            }
            break;
        }
        benchmark::DoNotOptimize(list.data());
        state.PauseTiming();
        list.clear();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(bytes);
    state.counters["message_bytes"] = static_cast<double>(content.size());
}

void registerAll()
{
    const struct {
        const char* name;
        std::string content;
    } messages[] = {{"plain_4KB", plainMessage()},
                    {"alternative_30KB", alternativeMessage()},
                    {"attachment_300KB", attachmentMessage()}};
    const struct {
        const char* name;
        Step step;
    } steps[] = {{"header", Step::Header},
                 {"structure", Step::Structure},
                 {"decoding", Step::Decoding},
                 {"body_words", Step::BodyWords}};
    for (const auto& message : messages) {
        for (const auto& step : steps) {
            const std::string name = std::string("BM_") + step.name + "/" + message.name;
            benchmark::RegisterBenchmark(name.c_str(), analyse, message.content, step.step)
                ->Unit(benchmark::kMicrosecond);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
