#include "filter/BandActions.h"

#include "filter/FilterSettings.h"

#include <cstdio>

void writeReportEntry(FilterContext& context, float total, int band)
{
    if (!filterSettings().bands[band].collectionEmail)
        return;
    MessageInfo& record = context.message;
    std::string from, subject;
    if (record.open(context.currentMessage) && record.selectSegment(1)) {
        record.chunk()->getHeader(record.file(), "FROM", from);
        record.chunk()->getHeader(record.file(), "SUBJECT", subject);
    }
    // Header values are one line each in the report, whatever they hold.
    for (std::string* value : {&from, &subject})
        for (char& c : *value)
            if (c == '\r' || c == '\n')
                c = ' ';
    char verdict[64];
    if (context.isOk)
        std::snprintf(verdict, sizeof verdict, "Message OK\n");
    else
        std::snprintf(verdict, sizeof verdict, "SPAM - rating %0.1f\n", static_cast<double>(total));
    context.writeReportEntry("-----------------\nFrom: " + from + "\nSubject: " + subject +
                             "\n=================\n" + verdict + "=================\n" + context.reportText +
                             "-----------------\n\n");
}

void rewriteSubject(FilterContext&, const MessageDescriptor&, int)
{
}

void archiveMessage(FilterContext&, const MessageDescriptor&, int)
{
}
