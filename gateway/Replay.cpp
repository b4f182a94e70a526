#include "Replay.h"

#include <vector>

#include "CandumpReader.h"
#include "DatabaseSet.h"
#include "DecodedExport.h"
#include "TraceLog.h"

int RunReplay(const GatewayOptions &options, StatusLines &status) {
    dbc::DatabaseSet databases;
    for (const std::string &file : options.dbcFiles) {
        if (const std::string problem = databases.Load(file); !problem.empty()) {
            status.Post(problem);
            return 1;
        }
    }
    candump::LogReader reader;
    std::string why;
    if (!reader.Open(options.replay, why)) {
        status.Post(why);
        return 1;
    }
    TraceLogOptions logOptions;
    logOptions.onError = [&status](const std::string &message, const std::string &) { status.Post(message); };
    TraceLog out(logOptions);
    if (!out.Open(options.logPath, why)) {
        status.Post(why);
        return 1;
    }
    DecodedExport decoded(out, databases);

    std::vector<BusEvent> batch;
    batch.reserve(512);
    long malformed = 0, firstBadLine = 0;
    std::string firstWhy;
    candump::LogRecord record;
    for (;;) {
        const candump::LineResult result = reader.Next(record);
        if (result.kind == candump::LineKind::End) break;
        if (result.kind == candump::LineKind::Failed) {
            status.Post(options.replay + ": " + result.why);
            return 1;
        }
        if (result.kind == candump::LineKind::Malformed) {
            if (malformed++ == 0) {
                firstBadLine = reader.Line();
                firstWhy = result.why;
            }
            continue;
        }
        if (result.kind != candump::LineKind::Record) continue;
        batch.push_back(record.event);
        if (batch.size() == batch.capacity()) {
            decoded.Log(batch);
            batch.clear();
        }
    }
    decoded.Log(batch);
    if (malformed > 0)
        status.Post(options.replay + ": " + std::to_string(malformed) +
                    (malformed == 1 ? " line that is not a candump line" : " lines that are not candump lines") +
                    " left out (the first, line " + std::to_string(firstBadLine) + ": " + firstWhy + ")");
    return out.Close() ? 0 : 1;
}
