#include "ReceiveListModel.h"

#include <QColor>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>
#include <algorithm>
#include <limits>
#include <tuple>

#include "CandumpLine.h"
#include "RowText.h"

using namespace busview;

namespace {

const char *const Titles[ReceiveListModel::ColumnCount] = {
    "Identifier", "Form", "Length", "Data", "Count", "Cycle (ms)", "Min/max (ms)", "Last seen (s)"};
const char *const Hints[ReceiveListModel::ColumnCount] = {
    "The frame's identifier in hex",
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

}  // namespace

ReceiveListModel::ReceiveListModel(QObject *parent)
    : QAbstractTableModel(parent), fixedFont_(QFontDatabase::systemFont(QFontDatabase::FixedFont)) {}

void ReceiveListModel::Refresh(ReceiveTable &table, int64_t nowUs) {
    table.Take(snapshot_, nowUs);
    const int rows = static_cast<int>(snapshot_.Rows().size());
    if (snapshot_.WasReset()) {
        beginResetModel();
        frameRows_ = rows;
        endResetModel();
        return;
    }
    if (rows > frameRows_) {
        beginInsertRows({}, ErrorKinds + frameRows_, ErrorKinds + rows - 1);
        frameRows_ = rows;
        endInsertRows();
    }
    emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

int ReceiveListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ErrorKinds + frameRows_;
}

int ReceiveListModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColumnCount;
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

QVariant ReceiveListModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid()) return {};
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
        case Qt::ToolTipRole: return QLatin1String(Hints[column]);
        case Qt::TextAlignmentRole:
            if (column == ColIdentifier || column == ColForm || column == ColData)
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

bool ReceiveListProxy::filterAcceptsRow(int sourceRow, const QModelIndex &) const {
    return source_->Shown(sourceRow, tag_, mask_);
}

bool ReceiveListProxy::lessThan(const QModelIndex &left, const QModelIndex &right) const {
    const int a = source_->Group(left.row()), b = source_->Group(right.row());
    // The groups, and the error rows among themselves, keep their order whichever way the column sorts
    // (a descending sort asks lessThan(right, left)).
    const bool ascending = sortOrder() == Qt::AscendingOrder;
    if (a != b) return ascending ? a < b : a > b;
    if (a == 2) return ascending ? left.row() < right.row() : left.row() > right.row();
    return source_->Less(left.row(), right.row(), left.column());
}
