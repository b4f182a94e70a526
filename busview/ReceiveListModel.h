// The receive list as a Qt item model over a ReceiveSnapshot, and the proxy that sorts and filters it.
//
// Rows 0..ErrorKinds-1 are the bus error kinds (shown once one was seen), the frame rows follow in the
// order their identifier was first seen. Refresh (on the window's timer, the window thread) brings the
// snapshot up to date, inserts the rows that are new and announces every other cell as changed in place:
// the times since last seen and the fading highlights move on even for rows whose frames did not. The
// snapshot is allocated once; nothing here grows with the frames received.
#pragma once

#include <QAbstractTableModel>
#include <QFont>
#include <QSortFilterProxyModel>
#include <cstdint>
#include <span>

#include "ReceiveTable.h"

class ReceiveListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column {
        ColIdentifier,
        ColForm,
        ColLength,
        ColData,
        ColCount,
        ColCycle,
        ColJitter,
        ColSince,
        ColumnCount
    };
    // The data column's per-byte highlight: quint64, byte i's brightness 0..255 in bits 8i..8i+7.
    static constexpr int ByteFadeRole = Qt::UserRole + 1;

    explicit ReceiveListModel(QObject *parent = nullptr);

    void Refresh(busview::ReceiveTable &table, int64_t nowUs);
    const busview::ReceiveSnapshot &Snapshot() const { return snapshot_; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Error rows show once their kind was seen; frame rows when (id & mask) == (tag & mask), as the
    // adapter's acceptance filter reads a tag and mask; "others" only without a filter (mask 0).
    bool Shown(int row, uint32_t tag, uint32_t mask) const;
    // Frames, then "others", then the error rows: they stay in this order whichever way a column sorts.
    int Group(int row) const;
    // Within a group: by the column's value, ties by identifier and form.
    bool Less(int left, int right, int column) const;
    // The row's last frame as a candump log line ('\n' included) into out; 0 for an error row.
    std::size_t CandumpLine(int row, std::span<char> out) const;
    // "000002B6 11-bit", "others 29-bit", "stuff error": what a screen reader calls the row.
    QString RowName(int row) const;

private:
    const busview::FrameRow *Frame(int row) const;
    QString CellText(int row, int column) const;

    busview::ReceiveSnapshot snapshot_;
    int frameRows_ = 0;  // the frame rows the views know of
    QFont fixedFont_;
};

class ReceiveListProxy : public QSortFilterProxyModel {
    Q_OBJECT

public:
    explicit ReceiveListProxy(ReceiveListModel *source, QObject *parent = nullptr);
    void SetFilter(uint32_t tag, uint32_t mask);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    ReceiveListModel *source_;
    uint32_t tag_ = 0;
    uint32_t mask_ = 0;
};
