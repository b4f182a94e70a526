// The receive list as a Qt item model over a ReceiveSnapshot, and the proxy that sorts and filters it.
//
// Rows 0..ErrorKinds-1 are the bus error kinds (shown once one was seen), the frame rows follow in the
// order their identifier was first seen. Refresh (on the window's timer, the window thread) brings the
// snapshot up to date, inserts the rows that are new and announces every other cell as changed in place:
// the times since last seen and the fading highlights move on even for rows whose frames did not. The
// snapshot is allocated once; nothing here grows with the frames received.
//
// With DBC files loaded (SetDatabases), a frame row whose identifier a file defines shows the message's
// name and has a child row per signal its last frame carries (a multiplexed signal only when the
// multiplexer's value selects it):
//   000002B6  ENGINE_DATA   11-bit  8  1F 40 ...                 the frame row
//     [ ] RPM               2000 rpm                             name (with the plot's check box), value
//     [ ] GEAR              3        Drive                       and unit, the value table's text
// A row is decoded when it first appears (so that the view knows its children), then again only while it
// is expanded (SetExpanded) and only when its data changed since its last decoding; into buffers kept
// from one frame to the next, so that a refresh allocates nothing once every row was seen.
#pragma once

#include <QAbstractItemModel>
#include <QFont>
#include <QSortFilterProxyModel>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "DatabaseSet.h"
#include "ReceiveTable.h"
#include "SignalDecode.h"

class ReceiveListModel : public QAbstractItemModel {
    Q_OBJECT

public:
    enum Column {
        ColIdentifier,  // signal rows: the signal's name and the plot's check box
        ColMessage,     // signal rows: the physical value and its unit
        ColForm,        // signal rows: the value table's text
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
    ~ReceiveListModel() override;

    void Refresh(busview::ReceiveTable &table, int64_t nowUs);
    const busview::ReceiveSnapshot &Snapshot() const { return snapshot_; }

    // The files to name and decode frames by (may be null: none); the owner keeps it alive. Resets the model.
    void SetDatabases(const dbc::DatabaseSet *databases);
    // The view expanded or collapsed a frame row (an index of this model).
    void SetExpanded(const QModelIndex &index, bool expanded);
    // Frame rows (model rows) this model decodes as expanded.
    std::vector<int> ExpandedRows() const;
    // The signals the plot shows: their rows are ticked.
    void SetPicked(std::span<const dbc::Signal *const> signalList);
    // The signal and its message of a signal row; nulls for any other index.
    const dbc::Signal *SignalOf(const QModelIndex &index) const;
    const dbc::Message *MessageOf(const QModelIndex &index) const;
    std::size_t FileOf(const QModelIndex &index) const;

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
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

signals:
    // The operator ticked (or cleared) a signal row's check box; the window decides, then SetPicked.
    void PickRequested(const QModelIndex &signalRow, bool picked);

private:
    struct RowDecode;
    const busview::FrameRow *Frame(int row) const;
    const RowDecode *Decode(int row) const;
    QString CellText(int row, int column) const;
    QVariant SignalData(const QModelIndex &index, int role) const;
    // Looks the row's message up and decodes it once, without telling the views (a row they do not know).
    void Attach(int k);
    // Decodes an expanded row whose data changed and tells the views what changed below it.
    void Update(int k);
    bool IsPicked(const dbc::Signal *signal) const;

    busview::ReceiveSnapshot snapshot_;
    int frameRows_ = 0;  // the frame rows the views know of
    QFont fixedFont_;
    const dbc::DatabaseSet *databases_ = nullptr;
    std::unique_ptr<RowDecode[]> decode_;  // by frame row, RowCapacity
    std::vector<dbc::SignalValue> scratch_;
    std::vector<const dbc::Signal *> picked_;
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
