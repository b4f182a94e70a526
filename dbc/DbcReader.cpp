#include "DbcReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <unordered_map>
#include <utility>

#include "DbcCursor.h"

namespace dbc {

namespace {

// Vector's editors keep signals that belong to no message in this pseudo-message; it never goes on a bus.
constexpr uint64_t IndependentSignalsId = 0xC0000000;
constexpr uint32_t ExtendedBit = 0x80000000;
constexpr uint32_t MaxExtendedId = 0x1FFFFFFF;
constexpr uint32_t MaxStandardId = 0x7FF;
constexpr int FrameBytes = 8;

std::string Hex(uint64_t v) {
    char s[24];
    std::snprintf(s, sizeof s, "0x%llX", static_cast<unsigned long long>(v));
    return s;
}

struct SignalDraft {
    Signal signal;
    std::string problem;  // not empty: left out, for this reason
    bool extendedMux = false;
    int typeLine = 0;  // of its SIG_VALTYPE_
};

struct MessageDraft {
    Message message;
    uint64_t fileId = 0;  // as written, bit 31 included
    bool ignored = false;  // the pseudo-message: left out without a word
    std::string problem;
    std::vector<SignalDraft> signalList;
};

// A statement that names a signal or message by the file's identifier, applied once everything is read.
struct Reference {
    uint64_t fileId = 0;
    std::string signal;  // empty: the message
    int line = 0;
};
struct TypeRef : Reference {
    uint64_t type = 0;
};
struct LabelsRef : Reference {
    std::vector<ValueLabel> labels;
};
struct CommentRef : Reference {
    std::string text;
};

// Why a signal's layout cannot be decoded in a message of `messageLength` bytes; empty when it can.
// Sets the signal's extraction fields.
std::string CheckLayout(Signal &s, uint64_t start, uint64_t length, uint64_t orderMark, int messageLength) {
    if (orderMark > 1) return "unknown byte order mark @" + std::to_string(orderMark) + " (expected @0 or @1)";
    if (length == 0) return "its length is 0";
    if (length > 64) return "its length of " + std::to_string(length) + " bits is more than 64";
    if (start > 63) return "its start bit " + std::to_string(start) + " is past the 64 bits of a frame";
    s.startBit = static_cast<int>(start);
    s.length = static_cast<int>(length);
    s.order = orderMark == 0 ? ByteOrder::Motorola : ByteOrder::Intel;
    s.mask = length == 64 ? ~uint64_t{0} : (uint64_t{1} << length) - 1;
    int lastByte = 0;
    if (s.order == ByteOrder::Intel) {
        if (start + length > 64) return "it runs past the 64 bits of a frame";
        s.shift = static_cast<uint8_t>(start);
        lastByte = static_cast<int>((start + length - 1) / 8);
    } else {
        // In the big-endian word byte i's bit b is bit 56 - 8i + b; the start bit is the top one.
        const int top = 56 - 8 * static_cast<int>(start / 8) + static_cast<int>(start % 8);
        const int bottom = top - static_cast<int>(length) + 1;
        if (bottom < 0) return "it runs past the 64 bits of a frame";
        s.shift = static_cast<uint8_t>(bottom);
        lastByte = 7 - bottom / 8;
    }
    if (lastByte >= messageLength)
        return "it runs past the message's " + std::to_string(messageLength) + " bytes (to byte " +
               std::to_string(lastByte) + ")";
    s.lastByte = static_cast<uint8_t>(lastByte);
    return {};
}

class Reader {
public:
    Reader(std::string_view text, std::string_view fileName) : in_(text), fileName_(fileName) {}

    std::shared_ptr<const Database> Read() {
        while (true) {
            in_.AcrossLines(false);
            in_.SkipSpace();
            if (in_.AtEnd()) break;
            const std::size_t at = in_.Position();
            if (!in_.NextIsName()) in_.Fail("expected a DBC keyword (VERSION, NS_, BU_, BO_, SG_, CM_, ...)");
            const std::string_view keyword = in_.Name("");
            if (!IsKeyword(keyword))
                in_.FailAt(at, "expected a DBC keyword (VERSION, NS_, BU_, BO_, SG_, CM_, ...)");
            Statement(keyword);
        }
        if (!sawDbc_) throw ParseError{1, "not a DBC file: it has no VERSION, NS_, BU_ or BO_ line"};
        return Finish();
    }

private:
    void Statement(std::string_view keyword) {
        if (keyword != "SG_") current_ = nullptr;
        if (keyword == "VERSION") {
            sawDbc_ = true;
            db_->version = in_.String("the version string");
            EndOfLine("VERSION");
        } else if (keyword == "NS_") {
            sawDbc_ = true;
            NewSymbols();
        } else if (keyword == "BS_") {
            in_.SkipLine();
        } else if (keyword == "BU_") {
            sawDbc_ = true;
            in_.Expect(':', "':' after BU_");
            while (!in_.AtLineEnd()) {
                if (in_.Accept(',')) continue;
                db_->nodes.emplace_back(in_.Name("a node name"));
                Count(names_, MaxNames, "node names");
            }
        } else if (keyword == "BO_") {
            sawDbc_ = true;
            MessageLine();
        } else if (keyword == "SG_") {
            SignalLine();
        } else if (keyword == "CM_") {
            in_.AcrossLines(true);
            CommentStatement();
        } else if (keyword == "VAL_") {
            in_.AcrossLines(true);
            ValueStatement();
        } else if (keyword == "SIG_VALTYPE_") {
            in_.AcrossLines(true);
            Count(references_, MaxReferences, "CM_, VAL_ and SIG_VALTYPE_ statements");
            TypeRef t;
            t.line = in_.Line();
            t.fileId = in_.Unsigned("the message identifier");
            t.signal = in_.Name("the signal name");
            in_.Accept(':');
            t.type = in_.Unsigned("the value type (0, 1 or 2)");
            in_.Accept(';');
            types_.push_back(std::move(t));
        } else {
            in_.SkipStatement();
        }
    }

    void Count(std::size_t &counter, std::size_t most, const char *what) const {
        if (++counter > most) in_.FailText("more than " + std::to_string(most) + " " + what + ": too many to load");
    }

    void EndOfLine(const char *statement) {
        if (!in_.AtLineEnd()) in_.Fail(std::string("expected the end of the ") + statement + " line");
    }

    // "NS_ :" and the keywords it lists, one to a line.
    void NewSymbols() {
        in_.SkipLine();
        while (true) {
            const std::size_t at = in_.Position();
            const int line = in_.Line();
            in_.SkipSpace();
            if (!in_.NextIsName() || (in_.Name(""), !in_.AtLineEnd())) {
                in_.Rewind(at, line);
                return;
            }
        }
    }

    void MessageLine() {
        auto &d = drafts_.emplace_back();
        d.message.line = in_.Line();
        d.fileId = in_.Unsigned("the message identifier");
        d.message.name = in_.Name("the message name");
        in_.Expect(':', "':' after the message name");
        const uint64_t length = in_.Unsigned("the message length in bytes");
        if (!in_.AtLineEnd()) d.message.transmitter = in_.Name("the transmitting node");
        EndOfLine("BO_");
        if (drafts_.size() > MaxMessages)
            in_.FailText("more than " + std::to_string(MaxMessages) + " messages: too many to load");
        current_ = &d;

        const bool extended = (d.fileId & ExtendedBit) != 0;
        const uint64_t id = d.fileId & ~uint64_t{ExtendedBit};
        d.message.id = static_cast<uint32_t>(id);
        d.message.extended = extended;
        d.message.length = static_cast<int>(std::min<uint64_t>(length, 1000));
        if (d.fileId == IndependentSignalsId) {
            d.ignored = true;
        } else if (d.fileId > 0xFFFFFFFF || (extended && id > MaxExtendedId)) {
            d.problem = "identifier " + std::to_string(d.fileId) + " is not a 29-bit identifier";
        } else if (!extended && id > MaxStandardId) {
            d.problem = "identifier " + Hex(id) + " is not an 11-bit identifier (a 29-bit one has bit 31 set: " +
                        std::to_string(id | ExtendedBit) + ")";
        } else if (length > FrameBytes) {
            d.problem = "its length of " + std::to_string(length) +
                        " bytes is more than a CAN frame's 8 (CAN FD is not read)";
        } else if (const auto [it, fresh] = byFileId_.try_emplace(d.fileId, drafts_.size() - 1); !fresh) {
            const Message &first = drafts_[it->second].message;
            d.problem = "identifier " + Hex(id) + " is taken already by " + first.name + " (line " +
                        std::to_string(first.line) + ")";
        }
    }

    void SignalLine() {
        if (!current_) in_.FailText("SG_ outside a message: expected a BO_ line before it");
        if (++signalCount_ > MaxSignals || current_->signalList.size() >= MaxSignalsPerMessage)
            in_.FailText("too many signals to load (at most " + std::to_string(MaxSignalsPerMessage) +
                         " in a message, " + std::to_string(MaxSignals) + " in a file)");
        SignalDraft &d = current_->signalList.emplace_back();
        Signal &s = d.signal;
        s.line = in_.Line();
        s.name = in_.Name("the signal name");
        if (in_.NextIsName()) {
            const std::size_t at = in_.Position();
            const std::string_view mark = in_.Name("");
            if (!MuxMark(mark, d)) in_.FailAt(at, "expected ':' or a multiplexer mark (M or m<value>)");
        }
        in_.Expect(':', "':' after the signal name");
        const uint64_t start = in_.Unsigned("the start bit");
        in_.Expect('|', "'|' between start bit and length");
        const uint64_t length = in_.Unsigned("the length in bits");
        in_.Expect('@', "'@' before the byte order");
        const uint64_t order = in_.Unsigned("the byte order (0 or 1)");
        if (in_.Accept('-'))
            s.isSigned = true;
        else if (!in_.Accept('+'))
            in_.Fail("expected '+' or '-' after the byte order");
        in_.Expect('(', "'(' before the factor");
        const Number factor = in_.Real("the factor");
        in_.Expect(',', "',' between factor and offset");
        const Number offset = in_.Real("the offset");
        in_.Expect(')', "')' after the offset");
        in_.Expect('[', "'[' before the minimum");
        s.minimum = in_.Real("the minimum").value;
        in_.Expect('|', "'|' between minimum and maximum");
        s.maximum = in_.Real("the maximum").value;
        in_.Expect(']', "']' after the maximum");
        s.unit = in_.String("the unit in quotes");
        while (!in_.AtLineEnd()) {
            if (in_.Accept(',')) continue;
            s.receivers.emplace_back(in_.Name("a receiving node name"));
            Count(names_, MaxNames, "node names");
        }

        s.factor = factor.value;
        s.offset = offset.value;
        const int decimals = std::max(factor.decimals, offset.decimals);
        s.decimals = decimals > 17 ? -1 : decimals;
        if (current_->ignored || !current_->problem.empty()) return;
        d.problem = CheckLayout(s, start, length, order, current_->message.length);
        if (d.problem.empty() && s.factor == 0) d.problem = "its factor is 0";
    }

    // M, m<value>, or m<value>M (extended multiplexing, not read).
    static bool MuxMark(std::string_view mark, SignalDraft &d) {
        if (mark == "M") {
            d.signal.mux = MuxRole::Multiplexer;
            return true;
        }
        if (mark.size() < 2 || mark[0] != 'm') return false;
        std::string_view digits = mark.substr(1);
        if (digits.back() == 'M') {
            d.extendedMux = true;
            digits.remove_suffix(1);
        }
        if (digits.empty() || digits.size() > 19) return false;
        uint64_t value = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + static_cast<uint64_t>(c - '0');
        }
        d.signal.mux = MuxRole::Multiplexed;
        d.signal.muxValue = value;
        return true;
    }

    void CommentStatement() {
        CommentRef c;
        c.line = in_.Line();
        in_.Skip();
        if (in_.Peek() == '"') {
            in_.String("the comment");
        } else {
            const std::string_view kind = in_.Name("BU_, BO_, SG_, EV_ or a comment in quotes");
            if (kind == "BO_" || kind == "SG_") {
                c.fileId = in_.Unsigned("the message identifier");
                if (kind == "SG_") c.signal = in_.Name("the signal name");
                c.text = in_.String("the comment in quotes");
                Count(references_, MaxReferences, "CM_, VAL_ and SIG_VALTYPE_ statements");
                comments_.push_back(std::move(c));
            } else if (kind == "BU_" || kind == "EV_") {
                in_.Name("a name");
                in_.String("the comment in quotes");
            } else {
                in_.SkipStatement();
                return;
            }
        }
        in_.Accept(';');
    }

    void ValueStatement() {
        if (!in_.NextIsNumber()) {  // the value table of an environment variable
            in_.SkipStatement();
            return;
        }
        Count(references_, MaxReferences, "CM_, VAL_ and SIG_VALTYPE_ statements");
        LabelsRef v;
        v.line = in_.Line();
        v.fileId = in_.Unsigned("the message identifier");
        v.signal = in_.Name("the signal name");
        while (!in_.Accept(';') && in_.NextIsNumber()) {
            int64_t key = 0;
            const bool whole = in_.TableKey(key);
            std::string text = in_.String("the value's text in quotes");
            if (whole) v.labels.push_back({key, std::move(text)});
            Count(labelCount_, MaxLabels, "value table entries");
        }
        labels_.push_back(std::move(v));
    }

    // Applies what refers to signals, leaves out what cannot be decoded, and builds the lookup.
    std::shared_ptr<const Database> Finish() {
        for (MessageDraft &m : drafts_) nameIndex_.emplace_back(Names(m));
        for (TypeRef &t : types_) {
            if (SignalDraft *d = Find(t)) {
                d->typeLine = t.line;
                if (t.type == 1) d->signal.type = ValueType::Float;
                else if (t.type == 2) d->signal.type = ValueType::Double;
                else if (t.type == 0) d->signal.type = ValueType::Integer;
                else if (d->problem.empty())
                    d->problem = "SIG_VALTYPE_ on line " + std::to_string(t.line) + " gives it value type " +
                                 std::to_string(t.type) + " (expected 0, 1 or 2)";
            }
        }
        nameIndex_ = {};
        for (MessageDraft &m : drafts_) {
            if (m.ignored) continue;
            const std::string what = "message " + m.message.name + " (" + Hex(m.message.id) + ")";
            if (!m.problem.empty()) {
                Skip(m.message.line, m.message.name, {}, what + ": " + m.problem);
                continue;
            }
            CheckSignals(m);
            m.message.signalList.reserve(m.signalList.size());
            for (SignalDraft &d : m.signalList) {
                if (!d.problem.empty()) {
                    Skip(d.signal.line, m.message.name, d.signal.name,
                         "signal " + d.signal.name + " of " + what + ": " + d.problem);
                    continue;
                }
                if (d.signal.mux == MuxRole::Multiplexer)
                    m.message.multiplexer = static_cast<int>(m.message.signalList.size());
                if (d.signal.type != ValueType::Integer) d.signal.decimals = -1;
                m.message.signalList.push_back(std::move(d.signal));
            }
            db_->messages.push_back(std::move(m.message));
            m.signalList = {};  // what is moved out no longer takes room while the rest is built
        }
        std::stable_sort(db_->skipped.begin(), db_->skipped.end(),
                         [](const Skipped &a, const Skipped &b) { return a.line < b.line; });
        ApplyToKept();
        db_->fileName = std::string(fileName_);
        db_->Index();
        return std::move(db_);
    }

    // Names, float lengths, and multiplexing, within one message.
    static void CheckSignals(MessageDraft &m) {
        std::unordered_map<std::string_view, int> lines;
        int multiplexers = 0;
        bool extended = false;
        const SignalDraft *multiplexer = nullptr;
        for (SignalDraft &d : m.signalList) {
            Signal &s = d.signal;
            if (const auto [it, fresh] = lines.try_emplace(s.name, s.line); !fresh && d.problem.empty())
                d.problem = "a signal of this name is on line " + std::to_string(it->second) + " already";
            const int bits = s.type == ValueType::Float ? 32 : s.type == ValueType::Double ? 64 : 0;
            if (bits != 0 && s.length != bits && d.problem.empty())
                d.problem = std::string(bits == 32 ? "it is a 32-bit float" : "it is a 64-bit double") +
                            " (SIG_VALTYPE_ on line " + std::to_string(d.typeLine) + ") but " +
                            std::to_string(s.length) + " bits long";
            extended = extended || d.extendedMux;
            if (s.mux == MuxRole::Multiplexer && !d.extendedMux) {
                ++multiplexers;
                if (d.problem.empty() && !multiplexer) multiplexer = &d;
            }
        }
        extended = extended || multiplexers > 1;
        for (SignalDraft &d : m.signalList) {
            Signal &s = d.signal;
            if (extended && s.mux == MuxRole::Multiplexer && !d.extendedMux) {
                s.mux = MuxRole::None;  // still a value of its own
            } else if (s.mux == MuxRole::Multiplexed && d.problem.empty()) {
                if (extended)
                    d.problem = "extended multiplexing (several multiplexers in one message) is not read";
                else if (!multiplexer && multiplexers > 0)
                    d.problem = "its multiplexer signal is left out";
                else if (!multiplexer)
                    d.problem = "it is multiplexed (m" + std::to_string(s.muxValue) +
                                ") but the message has no multiplexer signal (M)";
            }
        }
    }

    void ApplyToKept() {
        struct Kept {
            Message *message;
            std::unordered_map<std::string_view, Signal *> signalList;
        };
        std::unordered_map<uint64_t, Kept> messages;
        for (Message &m : db_->messages) {
            Kept &k = messages[(m.extended ? ExtendedBit : 0) | uint64_t{m.id}];
            k.message = &m;
            for (Signal &s : m.signalList) k.signalList.emplace(s.name, &s);
        }
        auto signalOf = [&](const Reference &r) -> Signal * {
            const auto m = messages.find(r.fileId);
            if (m == messages.end()) return nullptr;
            const auto s = m->second.signalList.find(r.signal);
            return s == m->second.signalList.end() ? nullptr : s->second;
        };
        for (CommentRef &c : comments_) {
            if (c.signal.empty()) {
                if (const auto it = messages.find(c.fileId); it != messages.end())
                    it->second.message->comment = std::move(c.text);
            } else if (Signal *s = signalOf(c)) {
                s->comment = std::move(c.text);
            }
        }
        for (LabelsRef &v : labels_) {
            if (Signal *s = signalOf(v)) {
                std::stable_sort(v.labels.begin(), v.labels.end(),
                                 [](const ValueLabel &a, const ValueLabel &b) { return a.raw < b.raw; });
                const auto end = std::unique(v.labels.begin(), v.labels.end(),
                                             [](const ValueLabel &a, const ValueLabel &b) { return a.raw == b.raw; });
                v.labels.erase(end, v.labels.end());
                s->labels = std::move(v.labels);
            }
        }
    }

    static std::unordered_map<std::string_view, std::size_t> Names(const MessageDraft &m) {
        std::unordered_map<std::string_view, std::size_t> names;
        for (std::size_t i = 0; i < m.signalList.size(); ++i) names.try_emplace(m.signalList[i].signal.name, i);
        return names;
    }

    SignalDraft *Find(const Reference &r) {
        const auto m = byFileId_.find(r.fileId);
        if (m == byFileId_.end()) return nullptr;
        const auto &names = nameIndex_[m->second];
        const auto s = names.find(r.signal);
        return s == names.end() ? nullptr : &drafts_[m->second].signalList[s->second];
    }

    void Skip(int line, const std::string &message, const std::string &signal, const std::string &why) {
        db_->skipped.push_back(
            {line, message, signal, std::string(fileName_) + ":" + std::to_string(line) + ": " + why + "; skipped"});
    }

    Cursor in_;
    std::string_view fileName_;
    std::shared_ptr<Database> db_ = std::make_shared<Database>();
    std::vector<MessageDraft> drafts_;  // std::vector: current_ is re-pointed after every BO_
    MessageDraft *current_ = nullptr;
    std::unordered_map<uint64_t, std::size_t> byFileId_;  // the first message of each identifier
    std::vector<std::unordered_map<std::string_view, std::size_t>> nameIndex_;
    std::vector<TypeRef> types_;
    std::vector<LabelsRef> labels_;
    std::vector<CommentRef> comments_;
    std::size_t signalCount_ = 0, labelCount_ = 0, names_ = 0, references_ = 0;
    bool sawDbc_ = false;
};

std::string At(std::string_view fileName, int line, const std::string &what) {
    return std::string(fileName) + ":" + std::to_string(line) + ": " + what;
}

}  // namespace

LoadResult ParseDbc(std::string_view text, std::string_view fileName) {
    LoadResult result;
    if (text.size() > MaxFileBytes) {
        result.error = std::string(fileName) + ": more than " + std::to_string(MaxFileBytes >> 20) +
                       " MiB: too large for a DBC file";
        return result;
    }
    int line = 1;
    for (std::size_t at = 0; at < text.size(); ++line) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        if (end - at > MaxLineBytes) {
            result.error = At(fileName, line, "line longer than " + std::to_string(MaxLineBytes >> 20) +
                                                  " MiB: not a DBC file");
            return result;
        }
        at = end + 1;
    }
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    try {
        result.database = Reader(text, fileName).Read();
    } catch (const ParseError &e) {
        result.error = At(fileName, e.line, e.what);
    } catch (const std::bad_alloc &) {
        result.error = std::string(fileName) + ": not enough memory to load it";
    }
    return result;
}

LoadResult LoadDbcFile(const std::string &path) {
    LoadResult result;
    auto fail = [&](const std::string &why) {
        result.error = path + ": " + why;
        return result;
    };
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below as not a regular file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return fail(std::strerror(errno));
    struct stat st {};
    std::string text;
    std::string why;
    if (::fstat(fd, &st) != 0) {
        why = std::strerror(errno);
    } else if (S_ISDIR(st.st_mode)) {
        why = "is a folder, not a DBC file";
    } else if (!S_ISREG(st.st_mode)) {
        why = "is not a regular file";
    } else if (static_cast<uint64_t>(st.st_size) > MaxFileBytes) {
        why = "more than " + std::to_string(MaxFileBytes >> 20) + " MiB: too large for a DBC file";
    } else {
        text.resize(static_cast<std::size_t>(st.st_size) + 1);  // one more: a file that grew is seen
        std::size_t have = 0;
        while (have < text.size()) {
            const ssize_t n = ::read(fd, text.data() + have, text.size() - have);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                why = std::strerror(errno);
                break;
            }
            if (n == 0) break;
            have += static_cast<std::size_t>(n);
        }
        if (why.empty() && have == text.size()) why = "changed while it was read";
        text.resize(have);
    }
    ::close(fd);
    if (!why.empty()) return fail(why);
    return ParseDbc(text, path);
}

}  // namespace dbc
