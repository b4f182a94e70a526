// The DBC reader and the candump log line reader on arbitrary text:
// - the DBC reader either loads, or gives one line that names the file and a line; never both, never
//   neither. What it loads decodes soundly: every message is found by its identifier, every signal lies
//   within its message, and a frame of any length decodes within the output array (at any length, with
//   the input's own bytes as data), its values written as CSV;
// - every line of the text read as a candump log line never reads past the line, and a record it gives
//   holds a valid interface name and a length code of at most 15.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "CandumpReader.h"
#include "DbcReader.h"
#include "DecodedCsv.h"
#include "FuzzCheck.h"
#include "SignalDecode.h"

namespace {

void CheckDatabase(const dbc::Database &db, const std::string &text) {
    std::vector<dbc::SignalValue> out(db.MostSignals());
    uint8_t data[8] = {};
    for (std::size_t i = 0; i < 8 && i < text.size(); ++i) data[i] = static_cast<uint8_t>(text[text.size() - 1 - i]);
    std::string csv;
    for (const dbc::Message &m : db.messages) {
        FUZZ_CHECK(db.Find(m.id, m.extended) == &m);
        FUZZ_CHECK(m.length >= 0 && m.length <= 8);
        for (const dbc::Signal &s : m.signalList) {
            FUZZ_CHECK(s.length >= 1 && s.length <= 64 && s.lastByte < m.length && s.factor != 0);
            FUZZ_CHECK(s.shift + s.length <= 64);
        }
        for (int length = 0; length <= 8; ++length) {
            const dbc::Decoded d = dbc::DecodeMessage(m, data, length, out);
            FUZZ_CHECK(d.values >= 0 && static_cast<std::size_t>(d.values) <= out.size());
            FUZZ_CHECK(static_cast<std::size_t>(d.values + d.missing) <= m.signalList.size());
            for (int i = 0; i < d.values; ++i) {
                csv.clear();
                dbc::AppendCsvLine(csv, {1, 2}, m, out[static_cast<std::size_t>(i)]);
                FUZZ_CHECK(!csv.empty() && csv.back() == '\n');
            }
        }
    }
    for (const dbc::Skipped &s : db.skipped) FUZZ_CHECK(s.text.starts_with("fuzz.dbc:" + std::to_string(s.line) + ": "));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    // A copy of exactly the input's size, so a read past the text's end is caught.
    const std::string text(reinterpret_cast<const char *>(data), size);

    const dbc::LoadResult loaded = dbc::ParseDbc(text, "fuzz.dbc");
    FUZZ_CHECK(!loaded.database != loaded.error.empty());
    if (loaded.database)
        CheckDatabase(*loaded.database, text);
    else
        FUZZ_CHECK(loaded.error.starts_with("fuzz.dbc:") && loaded.error.find('\n') == std::string::npos);

    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);  // its own allocation: ASan sees its end
        candump::LogRecord record;
        if (candump::ReadLogLine(line, record).kind == candump::LineKind::Record) {
            FUZZ_CHECK(candump::ValidInterfaceName(record.interface) && record.event.dlc <= 15);
            FUZZ_CHECK(record.interface.data() >= line.data() &&
                       record.interface.data() + record.interface.size() <= line.data() + line.size());
        }
        at = end + 1;
    }
    return 0;
}
