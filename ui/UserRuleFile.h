// UserRuleFile: the rule operations of the settings window on the user's
// rule file "user.sfr" in a rules folder.  "system.sfr" is only read.
//
// A rule is found by the first "#rule" line (any case) whose name, decoded
// as the filter decodes it, equals the name asked for; its body runs up to
// the next "#endrule" line (or the end of the file).  Names are written in
// "#rule" lines with encodePercent.  Every change writes the whole new file
// to "user.sfr_temp" in the same folder, flushes it to disk and renames it
// over "user.sfr", so "user.sfr" always holds either the old or the new
// content.  While a change is made, "user.sfr" is held with an exclusive
// advisory lock (flock); readers take a shared one.  Each operation returns
// false, and leaves "user.sfr" as it was, when a file cannot be opened,
// read or written, when the rule is not found, or when a new name cannot
// stand in a "#rule" line (isValidName).  Nothing is reported: the caller
// decides.
#pragma once

#include <optional>
#include <string>
#include <vector>

class UserRuleFile
{
public:
    struct Rule {
        std::string name;   // decoded
        int rating = 50;    // the "#rule" line's, in tenths
    };

    explicit UserRuleFile(std::string rulesFolder);

    std::string userPath() const { return m_folder + "/user.sfr"; }
    std::string systemPath() const { return m_folder + "/system.sfr"; }
    std::string tempPath() const { return m_folder + "/user.sfr_temp"; }

    // A name holding CR or LF would break its "#rule" line; an empty one
    // names nothing.
    static bool isValidName(const std::string& name);

    // The rules named by "#rule" lines of the file at path, in file order;
    // empty when it cannot be read.
    static std::vector<Rule> listRules(const std::string& path);
    // The body of the named rule in the file at path: its lines after the
    // "#rule" line up to the "#endrule" line, each ending in "\n" (a CR
    // before it is dropped).  nullopt when the file or the rule is missing.
    static std::optional<std::string> readBody(const std::string& path, const std::string& name);

    // Appends an empty rule: "\n#rule \"<encoded>\"\n\n#endrule\n".
    bool append(const std::string& name);
    // Appends a copy of the rule sourceName of the system file (fromSystem)
    // or of the user file under the name newName: a new "#rule" line, then
    // the source's lines up to and including its "#endrule" line.
    bool copy(bool fromSystem, const std::string& sourceName, const std::string& newName);
    // Removes the rule from its "#rule" line through its "#endrule" line.
    bool remove(const std::string& name);
    // Replaces the rule's "#rule" line by one naming newName.
    bool rename(const std::string& oldName, const std::string& newName);
    // Replaces the rule's body by body (followed by "\r\n" when it does not
    // end in a line feed); the "#rule" and "#endrule" lines stay.
    bool saveBody(const std::string& name, const std::string& body);

private:
    // Reads user.sfr under an exclusive lock, lets edit make the new
    // content from the old (false: give up), and puts it in place.
    template <typename Edit>
    bool change(Edit edit);

    std::string m_folder;
};
