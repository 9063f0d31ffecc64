// The filter engine as a session drives it, in the test process: rule files
// and settings written into the temporary data root, the rules loaded with
// the real script engine, and messages judged from real spool files by a
// context registered for the test's thread.  FakeSession stands in for the
// proxy's session: it reports a size and a header-only state, and "fetches"
// the whole message by writing the text it was given over the spool.
#pragma once

#include "common/CRegistry.h"
#include "common/ProgramContext.h"
#include "filter/Evaluation.h"
#include "filter/FilterContext.h"
#include "filter/FilterSettings.h"
#include "filter/ListStore.h"
#include "filter/RuleSet.h"
#include "filter/RuleStore.h"
#include "filter/SessionLink.h"

#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

class FakeSession : public SessionLink
{
public:
    long currentMessageSize() const override { return size; }
    bool isCurrentHeaderOnly() const override { return headerOnly; }
    void fetchWholeMessage() override
    {
        ++fetches;
        if (!headerOnly || refusesWhole)
            return;
        writeFile(path, whole);
        headerOnly = false;
    }

    long size = 0;
    bool headerOnly = false;
    std::string path;
    std::string whole;
    int fetches = 0;
    bool refusesWhole = false;   // a server that answers RETR with -ERR
};

class FilterHarness : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string rules = programContext().dataRoot + "/rules";
        for (const auto& entry : std::filesystem::directory_iterator(rules))
            std::filesystem::remove(entry.path());
        std::filesystem::copy_file(QF_SHIPPED_INCLUDE, rules + "/spamfltr.inc");
        writeFile(rules + "/system.sfr", "");
        clearSettings();
        // Band 1 as the shipped settings have it: not marked, not archived.
        setting("Subject1", 0);
        setting("Archive1", 0);
    }

    void TearDown() override
    {
        m_registration.reset();
        m_context.reset();
        clearSettings();
        freeRules();
        clearListCaches();
    }

    static std::string rulesFolder() { return programContext().dataRoot + "/rules"; }

    // The reload a new session makes; the test's context judges with it.
    void loadRules()
    {
        std::shared_ptr<RuleSet> set = ::loadRules();
        if (m_context)
            m_context->setRules(std::move(set));
    }

    // The settings key "/" and "/PRIORITY" emptied.
    static void clearSettings()
    {
        for (const char* key : {"/", "/PRIORITY"}) {
            CRegistry reg;
            if (!reg.CreateKey(eRegUser, "quilfpro", key, true))
                continue;
            std::string name;
            unsigned long type = 0;
            std::vector<std::string> names;
            for (unsigned long i = 0; reg.EnumValue(i, name, type); ++i)
                names.push_back(name);
            for (const std::string& value : names)
                reg.DeleteValue(value.c_str());
        }
        filterSettings() = FilterSettings();
        ruleStore().order.clear();
        ruleStore().ratings.clear();
    }

    static void setting(const char* name, int value)
    {
        CRegistry reg;
        ASSERT_TRUE(reg.CreateKey(eRegUser, "quilfpro", "/", true));
        reg.SetValue(name, value);
    }

    static void rules(const std::string& text, const char* file = "user.sfr")
    {
        writeFile(rulesFolder() + "/" + file, text);
    }

    // A rule file block.
    static std::string rule(const std::string& name, int rating, const std::string& body)
    {
        return "#rule \"" + name + "\" " + std::to_string(rating) + "\n" + body + "\n#endrule\n";
    }

    FilterContext& context()
    {
        if (!m_context) {
            m_context = std::make_unique<FilterContext>(&m_session);
            m_registration = std::make_unique<ContextRegistration>(*m_context);
        }
        return *m_context;
    }

    // Spools text and judges it; headerOnlyOf: spool only the header, and
    // let a body request fetch the whole text.
    bool judge(const std::string& text, bool headerOnly = false, int size = -1)
    {
        m_path = programContext().dataRoot + "/state/judged.msg";
        m_session.path = m_path;
        m_session.whole = text;
        m_session.headerOnly = headerOnly;
        m_session.fetches = 0;
        writeFile(m_path, headerOnly ? text.substr(0, text.find("\r\n\r\n") + 4) + ".\r\n" : text);
        m_session.size = size < 0 ? static_cast<long>(text.size()) : size;
        m_descriptor = MessageDescriptor();
        m_descriptor.path = m_path.c_str();
        return evaluate(context(), m_descriptor, static_cast<int>(m_session.size));
    }

    std::string report() { return readFile(context().reportPath); }

    FakeSession m_session;
    MessageDescriptor m_descriptor;
    std::string m_path;
    std::unique_ptr<FilterContext> m_context;
    std::unique_ptr<ContextRegistration> m_registration;
};

// A message with CR LF line ends from LF-ended lines.
inline std::string crlf(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}
