#include "filter/VirusCheck.h"

bool scanForViruses(FilterContext& context)
{
    MessageInfo& record = context.message;
    const MessageDescriptor* message = context.currentMessage;
    if (message == nullptr || message->path == nullptr)
        return false;
    record.ensureWholeMessage(message);
    VirusScanner& scanner = context.scanner();
    if (scanner.scanMessage(message->path, message->sender ? message->sender : "",
                            message->recipient ? message->recipient : ""))
        return false;
    record.closeFile();
    scanner.replaceSpooledMessage(message->path);
    record.reset(message);
    record.open(message);
    return true;
}
