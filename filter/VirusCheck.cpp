#include "filter/VirusCheck.h"

bool scanForViruses(FilterContext& context)
{
    MessageInfo& record = context.message;
    const MessageDescriptor* message = context.currentMessage;
    if (message == nullptr || message->path == nullptr)
        return false;
    record.ensureWholeMessage(message);
    VirusScanner& scanner = context.scanner();
    const bool clean = scanner.scanMessage(message->path, message->sender ? message->sender : "",
                                           message->recipient ? message->recipient : "");
    for (const std::string& reason : scanner.unscannedReasons()) {
        const std::string line = "X-Quillfence-Pro: attachments not scanned: " + reason + "\n";
        if (context.headerNotes.find(line) == std::string::npos)
            context.headerNotes += line;
    }
    if (clean)
        return false;
    record.closeFile();
    scanner.replaceSpooledMessage(message->path);
    record.reset(message);
    record.open(message);
    return true;
}
