#include "ReceiveListModel.h"

#include <QColor>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>
#include <algorithm>
#include <cstring>
#include <limits>
#include <tuple>

#include "CandumpLine.h"
#include "DecodedCsv.h"
#include "RowText.h"

using namespace busview;

namespace {

const char *const Titles[ReceiveListModel::ColumnCount] = {"Identifier", "Message",      "Form",
                                                           "Length",     "Data",         "Count",
                                                           "Cycle (ms)", "Min/max (ms)", "Last seen (s)"};
const char *const Hints[ReceiveListModel::ColumnCount] = {
    "The frame's identifier in hex; a signal's name below a frame whose message a DBC file defines",
    "The message's name from the DBC files (Load DBC...); expand the row for its signals' values",
    "11-bit or 29-bit identifier; remote: a remote transmission request",
    "The last frame's data length",
    "The last frame's data bytes; a byte that changed is highlighted and fades over a second",
    "Frames received since the list was cleared",
    "Mean of the last 16 periods, from the adapter's own time stamps",
    "The shortest and the longest of those periods: the cycle time's jitter",
    "Seconds since the frame was last received; grey when not seen for 3 cycle times"};

struct SortKey {
    double value = 0;
    uint64_t bytes = 0;
    uint64_t identity = 0;
    bool operator<(const SortKey &o) const {
        return std::tie(value, bytes, identity) < std::tie(o.value, o.bytes, o.identity);
    }
};

uint64_t IdentityOf(const FrameRow &row) {
    return (uint64_t{row.id} << 2) | (row.extended ? 2 : 0) | (row.remote ? 1 : 0);
}

constexpr double Unknown = std::numeric_limits<double>::infinity();

// A value out of its signal's range: dark red on pale red, and said so to screen readers.
constexpr QRgb OutOfRangeText = qRgb(176, 0, 0);
constexpr QRgb OutOfRangeBack = qRgb(255, 222, 222);

int DataLength(const FrameRow &row) { return row.remote ? 0 : std::min<int>(row.dlc, 8); }

QString Utf8(const std::string &text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

// A frame row's message and its signals' values at its last decoding. Signal rows are indexed by their
// frame row (internal id: the frame's model row + 1; 0 for the top-level rows).
struct ReceiveListModel::RowDecode {
    const dbc::Message *message = nullptr;
    std::size_t file = 0;
    bool expanded = false;
    bool remote = false;
    uint8_t dlc = 0;
    uint8_t data[8]{};
    int shown = 0;                         // signal rows the views know of
    std::vector<dbc::SignalValue> values;  // the message's signal count; kept across Clear
};

ReceiveListModel::ReceiveListModel(QObject *parent)
    : QAbstractItemModel(parent),
      fixedFont_(QFontDatabase::systemFont(QFontDatabase::FixedFont)),
      decode_(std::make_unique<RowDecode[]>(RowCapacity)) {}

ReceiveListModel::~ReceiveListModel() = default;

void ReceiveListModel::Refresh(ReceiveTable &table, int64_t nowUs) {
    table.Take(snapshot_, nowUs);
    const int rows = static_cast<int>(snapshot_.Rows().size());
    if (snapshot_.WasReset()) {
        beginResetModel();
        frameRows_ = rows;
        for (int k = 0; k < rows; ++k) Attach(k);
        endResetModel();
        return;
    }
    if (rows > frameRows_) {
        for (int k = frameRows_; k < rows; ++k) Attach(k);
        beginInsertRows({}, ErrorKinds + frameRows_, ErrorKinds + rows - 1);
        frameRows_ = rows;
        endInsertRows();
    }
    emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
    for (int k = 0; k < frameRows_; ++k)
        if (decode_[k].expanded) Update(k);
}

void ReceiveListModel::SetDatabases(const dbc::DatabaseSet *databases) {
    beginResetModel();
    databases_ = databases;
    for (int k = 0; k < frameRows_; ++k) Attach(k);
    endResetModel();
}

void ReceiveListModel::Attach(int k) {
    RowDecode &d = decode_[k];
    const FrameRow &frame = snapshot_.Rows()[static_cast<std::size_t>(k)];
    d.expanded = false;
    d.shown = 0;
    d.message = nullptr;
    if (!databases_ || frame.other) return;
    const dbc::DatabaseSet::Found found = databases_->Find(frame.id, frame.extended);
    d.message = found.message;
    d.file = found.file;
    if (!d.message) return;
    d.values.resize(d.message->signalList.size());
    d.remote = frame.remote;
    d.dlc = frame.dlc;
    std::memcpy(d.data, frame.data, sizeof d.data);
    d.shown = dbc::DecodeMessage(*d.message, frame.data, DataLength(frame), d.values).values;
}

void ReceiveListModel::Update(int k) {
    RowDecode &d = decode_[k];
    const FrameRow &frame = snapshot_.Rows()[static_cast<std::size_t>(k)];
    if (!d.message || (d.remote == frame.remote && d.dlc == frame.dlc &&
                       std::memcmp(d.data, frame.data, sizeof d.data) == 0))
        return;
    d.remote = frame.remote;
    d.dlc = frame.dlc;
    std::memcpy(d.data, frame.data, sizeof d.data);
    const int now = dbc::DecodeMessage(*d.message, frame.data, DataLength(frame), d.values).values;
    const QModelIndex parent = index(ErrorKinds + k, 0);
    if (now > d.shown) {
        beginInsertRows(parent, d.shown, now - 1);
        d.shown = now;
        endInsertRows();
    } else if (now < d.shown) {
        beginRemoveRows(parent, now, d.shown - 1);
        d.shown = now;
        endRemoveRows();
    }
    if (now > 0)
        emit dataChanged(index(0, ColIdentifier, parent),
                         index(now - 1, ColForm, parent));  // all a signal row shows
}

void ReceiveListModel::SetExpanded(const QModelIndex &index, bool expanded) {
    const int k = index.row() - ErrorKinds;
    if (!index.isValid() || index.internalId() != 0 || k < 0 || k >= frameRows_) return;
    RowDecode &d = decode_[k];
    if (!d.message || d.expanded == expanded) return;
    d.expanded = expanded;
    if (expanded) Update(k);
}

std::vector<int> ReceiveListModel::ExpandedRows() const {
    std::vector<int> rows;
    for (int k = 0; k < frameRows_; ++k)
        if (decode_[k].expanded) rows.push_back(ErrorKinds + k);
    return rows;
}

void ReceiveListModel::SetPicked(std::span<const dbc::Signal *const> signalList) {
    picked_.assign(signalList.begin(), signalList.end());
    for (int k = 0; k < frameRows_; ++k)
        if (decode_[k].expanded && decode_[k].shown > 0) {
            const QModelIndex parent = index(ErrorKinds + k, 0);
            emit dataChanged(index(0, 0, parent), index(decode_[k].shown - 1, 0, parent),
                             {Qt::CheckStateRole});
        }
}

bool ReceiveListModel::IsPicked(const dbc::Signal *signal) const {
    return std::find(picked_.begin(), picked_.end(), signal) != picked_.end();
}

const ReceiveListModel::RowDecode *ReceiveListModel::Decode(int row) const {
    const int k = row - ErrorKinds;
    return k >= 0 && k < frameRows_ ? &decode_[k] : nullptr;
}

const dbc::Signal *ReceiveListModel::SignalOf(const QModelIndex &index) const {
    if (!index.isValid() || index.internalId() == 0) return nullptr;
    const RowDecode *d = Decode(static_cast<int>(index.internalId() - 1));
    return d && index.row() < d->shown ? d->values[static_cast<std::size_t>(index.row())].signal : nullptr;
}

const dbc::Message *ReceiveListModel::MessageOf(const QModelIndex &index) const {
    if (!index.isValid()) return nullptr;
    const RowDecode *d =
        Decode(index.internalId() == 0 ? index.row() : static_cast<int>(index.internalId() - 1));
    return d ? d->message : nullptr;
}

std::size_t ReceiveListModel::FileOf(const QModelIndex &index) const {
    if (!index.isValid()) return 0;
    const RowDecode *d =
        Decode(index.internalId() == 0 ? index.row() : static_cast<int>(index.internalId() - 1));
    return d ? d->file : 0;
}

QModelIndex ReceiveListModel::index(int row, int column, const QModelIndex &parent) const {
    if (!hasIndex(row, column, parent)) return {};
    return createIndex(row, column, parent.isValid() ? quintptr(parent.row() + 1) : quintptr(0));
}

QModelIndex ReceiveListModel::parent(const QModelIndex &child) const {
    if (!child.isValid() || child.internalId() == 0) return {};
    return createIndex(static_cast<int>(child.internalId() - 1), 0, quintptr(0));
}

int ReceiveListModel::rowCount(const QModelIndex &parent) const {
    if (!parent.isValid()) return ErrorKinds + frameRows_;
    if (parent.internalId() != 0 || parent.column() != 0) return 0;
    const RowDecode *d = Decode(parent.row());
    return d ? d->shown : 0;
}

int ReceiveListModel::columnCount(const QModelIndex &) const { return ColumnCount; }

bool ReceiveListModel::hasChildren(const QModelIndex &parent) const {
    if (!parent.isValid()) return rowCount() > 0;
    if (parent.internalId() != 0 || parent.column() != 0) return false;
    const RowDecode *d = Decode(parent.row());
    const FrameRow *frame = Frame(parent.row());
    return d && d->message && !d->message->signalList.empty() && frame && !frame->remote;
}

const FrameRow *ReceiveListModel::Frame(int row) const {
    const int k = row - ErrorKinds;
    return k >= 0 && k < frameRows_ ? &snapshot_.Rows()[static_cast<std::size_t>(k)] : nullptr;
}

QString ReceiveListModel::CellText(int row, int column) const {
    char text[CellTextSize];
    std::size_t n = 0;
    const int64_t now = snapshot_.NowUs();
    if (row >= 0 && row < ErrorKinds) {
        const ErrorRow &error = snapshot_.Error(static_cast<ErrorKind>(row));
        if (column == ColIdentifier) return QString::fromLatin1(ErrorKindText(static_cast<ErrorKind>(row)));
        if (column == ColCount) return QString::number(error.count);
        if (column == ColSince && error.count > 0) n = FormatSince(text, now - error.lastArrivalUs);
        return QString::fromLatin1(text, static_cast<qsizetype>(n));
    }
    const FrameRow *frame = Frame(row);
    if (!frame) return {};
    switch (column) {
        case ColIdentifier: n = FormatIdentifier(text, *frame); break;
        case ColMessage: {
            const RowDecode *d = Decode(row);
            return d && d->message ? Utf8(d->message->name) : QString();
        }
        case ColForm: return QString::fromLatin1(FormText(*frame));
        case ColLength: return QString::number(std::min<int>(frame->dlc, 8));
        case ColData: n = FormatData(text, *frame); break;
        case ColCount: return QString::number(frame->count);
        case ColCycle: n = frame->other ? 0 : FormatCycle(text, CycleOf(*frame)); break;
        case ColJitter: n = frame->other ? 0 : FormatJitter(text, CycleOf(*frame)); break;
        case ColSince: n = FormatSince(text, now - frame->lastArrivalUs); break;
        default: break;
    }
    return QString::fromLatin1(text, static_cast<qsizetype>(n));
}

QString ReceiveListModel::RowName(int row) const {
    if (row >= 0 && row < ErrorKinds) return CellText(row, ColIdentifier);
    return CellText(row, ColIdentifier) + QLatin1Char(' ') + CellText(row, ColForm);
}

QVariant ReceiveListModel::SignalData(const QModelIndex &index, int role) const {
    const RowDecode *d = Decode(static_cast<int>(index.internalId() - 1));
    if (!d || index.row() >= d->shown) return {};
    const dbc::SignalValue &v = d->values[static_cast<std::size_t>(index.row())];
    const dbc::Signal &s = *v.signal;
    const int column = index.column();
    const bool marked = column == ColMessage && v.outOfRange;
    auto text = [&]() -> QString {
        if (column == ColIdentifier) return Utf8(s.name);
        if (column == ColForm)
            return QString::fromUtf8(v.label.data(), static_cast<qsizetype>(v.label.size()));
        if (column != ColMessage) return {};
        char value[dbc::MaxValueLength];
        QString shown = QString::fromLatin1(value, static_cast<qsizetype>(dbc::FormatValue(value, v)));
        if (!s.unit.empty()) shown += QLatin1Char(' ') + Utf8(s.unit);
        return shown;
    };
    switch (role) {
        case Qt::DisplayRole: return text();
        case Qt::AccessibleTextRole: {
            const QString shown = text();
            return shown.isEmpty() ? QStringLiteral("none") : shown;
        }
        case Qt::AccessibleDescriptionRole: {
            const char *what = column == ColIdentifier ? "signal" : column == ColMessage ? "value" : "label";
            return Utf8(d->message->name) + QLatin1Char('.') + Utf8(s.name) + QStringLiteral(", ") +
                   QLatin1String(what) + (marked ? QStringLiteral(", out of range") : QString());
        }
        case Qt::ToolTipRole:
            if (column == ColIdentifier)
                return s.comment.empty() ? QStringLiteral("Tick to plot the signal") : Utf8(s.comment);
            if (column == ColMessage)
                return QStringLiteral("%1raw %2 x %3 + %4; range [%5|%6]")
                    .arg(marked ? QStringLiteral("Out of range: ") : QString())
                    .arg(s.isSigned ? QString::number(static_cast<qint64>(v.raw)) : QString::number(v.raw))
                    .arg(s.factor)
                    .arg(s.offset)
                    .arg(s.minimum)
                    .arg(s.maximum);
            return {};
        case Qt::CheckStateRole:
            if (column == ColIdentifier) return IsPicked(&s) ? Qt::Checked : Qt::Unchecked;
            return {};
        case Qt::ForegroundRole:
            if (marked) return QColor(OutOfRangeText);
            return {};
        case Qt::BackgroundRole:
            if (marked) return QColor(OutOfRangeBack);
            return {};
        case Qt::TextAlignmentRole: return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        default: return {};
    }
}

bool ReceiveListModel::setData(const QModelIndex &index, const QVariant &value, int role) {
    if (role != Qt::CheckStateRole || index.column() != ColIdentifier || !SignalOf(index)) return false;
    emit PickRequested(index, value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags ReceiveListModel::flags(const QModelIndex &index) const {
    Qt::ItemFlags f = QAbstractItemModel::flags(index);
    if (index.column() == ColIdentifier && SignalOf(index)) f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant ReceiveListModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid()) return {};
    if (index.internalId() != 0) return SignalData(index, role);
    const int row = index.row(), column = index.column();
    const FrameRow *frame = Frame(row);
    switch (role) {
        case Qt::DisplayRole: return CellText(row, column);
        case Qt::AccessibleTextRole: {
            const QString text = CellText(row, column);
            return text.isEmpty() ? QStringLiteral("none") : text;
        }
        case Qt::AccessibleDescriptionRole:
            return RowName(row) + QStringLiteral(", ") + QLatin1String(Titles[column]);
        case Qt::ToolTipRole:
            if (column == ColMessage && databases_)
                if (const RowDecode *d = Decode(row); d && d->message && frame) {
                    const auto &files = databases_->Files();
                    QString hint =
                        QStringLiteral("%1 from %2")
                            .arg(Utf8(d->message->name), Utf8(dbc::BaseName(files[d->file]->fileName)));
                    if (!d->message->comment.empty())
                        hint += QStringLiteral(": ") + Utf8(d->message->comment);
                    for (std::size_t other : databases_->FilesDefining(frame->id, frame->extended))
                        if (other != d->file)
                            hint += QStringLiteral("\n%1 defines it too; the file loaded first is used")
                                        .arg(Utf8(dbc::BaseName(files[other]->fileName)));
                    return hint;
                }
            return QLatin1String(Hints[column]);
        case Qt::TextAlignmentRole:
            if (column == ColIdentifier || column == ColMessage || column == ColForm || column == ColData)
                return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        case Qt::FontRole:
            if (column == ColIdentifier || column == ColData) return fixedFont_;
            return {};
        case Qt::ForegroundRole:
            if (frame && IsStale(*frame, snapshot_.NowUs()))
                return QGuiApplication::palette().color(QPalette::Disabled, QPalette::Text);
            return {};
        case ByteFadeRole: {
            quint64 fades = 0;
            if (frame && !frame->other)
                for (int i = 0; i < 8; ++i)
                    fades |= quint64(ByteFade(*frame, i, snapshot_.NowUs())) << (8 * i);
            return fades;
        }
        default: return {};
    }
}

QVariant ReceiveListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Vertical) {
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return RowName(section);
        return {};
    }
    if (section < 0 || section >= ColumnCount) return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return QLatin1String(Titles[section]);
    if (role == Qt::ToolTipRole) return QLatin1String(Hints[section]);
    if (role == Qt::InitialSortOrderRole) return Qt::AscendingOrder;
    return {};
}

bool ReceiveListModel::Shown(int row, uint32_t tag, uint32_t mask) const {
    if (row >= 0 && row < ErrorKinds) return snapshot_.Error(static_cast<ErrorKind>(row)).count > 0;
    const FrameRow *frame = Frame(row);
    if (!frame) return false;
    if (frame->other) return mask == 0;
    return (frame->id & mask) == (tag & mask);
}

int ReceiveListModel::Group(int row) const {
    if (row < ErrorKinds) return 2;
    const FrameRow *frame = Frame(row);
    return frame && frame->other ? 1 : 0;
}

bool ReceiveListModel::Less(int left, int right, int column) const {
    if (column == ColMessage) {
        const RowDecode *a = Decode(left), *b = Decode(right);
        const std::string_view none;
        const std::string_view na = a && a->message ? std::string_view(a->message->name) : none;
        const std::string_view nb = b && b->message ? std::string_view(b->message->name) : none;
        if (na != nb) return na < nb;
        column = ColIdentifier;
    }
    const int64_t now = snapshot_.NowUs();
    auto keyOf = [&](int row) {
        SortKey key;
        if (row < ErrorKinds) {
            const ErrorRow &error = snapshot_.Error(static_cast<ErrorKind>(row));
            key.identity = static_cast<uint64_t>(row);
            if (column == ColCount) key.value = static_cast<double>(error.count);
            if (column == ColSince) key.value = static_cast<double>(now - error.lastArrivalUs);
            return key;
        }
        const FrameRow *frame = Frame(row);
        if (!frame) return key;
        const CycleStats cycle = CycleOf(*frame);
        key.identity = IdentityOf(*frame);
        switch (column) {
            case ColForm: key.value = (frame->extended ? 2 : 0) + (frame->remote ? 1 : 0); break;
            case ColLength: key.value = std::min<int>(frame->dlc, 8); break;
            case ColData:
                key.value = frame->remote ? -1 : std::min<int>(frame->dlc, 8);
                for (uint8_t byte : frame->data) key.bytes = (key.bytes << 8) | byte;
                break;
            case ColCount: key.value = static_cast<double>(frame->count); break;
            case ColCycle: key.value = cycle.known ? cycle.meanMs : Unknown; break;
            case ColJitter: key.value = cycle.known ? cycle.maxMs - cycle.minMs : Unknown; break;
            case ColSince: key.value = static_cast<double>(now - frame->lastArrivalUs); break;
            default: break;
        }
        return key;
    };
    return keyOf(left) < keyOf(right);
}

std::size_t ReceiveListModel::CandumpLine(int row, std::span<char> out) const {
    const FrameRow *frame = Frame(row);
    if (!frame) return 0;
    const candump::Timestamp time{frame->lastArrivalUs / 1'000'000,
                                  static_cast<int32_t>(frame->lastArrivalUs % 1'000'000)};
    const uint8_t info = static_cast<uint8_t>((frame->dlc & 0x0F) | (frame->extended ? 0x10 : 0));
    return candump::FormatCanFrame(out, time, candump::DefaultInterfaceName, frame->id, info, frame->remote,
                                   frame->data);
}

ReceiveListProxy::ReceiveListProxy(ReceiveListModel *source, QObject *parent)
    : QSortFilterProxyModel(parent), source_(source) {
    setSourceModel(source);
}

void ReceiveListProxy::SetFilter(uint32_t tag, uint32_t mask) {
    if (tag == tag_ && mask == mask_) return;
    tag_ = tag;
    mask_ = mask;
    invalidateRowsFilter();
}

bool ReceiveListProxy::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const {
    return sourceParent.isValid() || source_->Shown(sourceRow, tag_, mask_);
}

bool ReceiveListProxy::lessThan(const QModelIndex &left, const QModelIndex &right) const {
    const bool ascending = sortOrder() == Qt::AscendingOrder;
    if (left.parent().isValid())  // signal rows keep the file's order
        return ascending ? left.row() < right.row() : left.row() > right.row();
    const int a = source_->Group(left.row()), b = source_->Group(right.row());
    // The groups, and the error rows among themselves, keep their order whichever way the column sorts
    // (a descending sort asks lessThan(right, left)).
    if (a != b) return ascending ? a < b : a > b;
    if (a == 2) return ascending ? left.row() < right.row() : left.row() > right.row();
    return source_->Less(left.row(), right.row(), left.column());
}
