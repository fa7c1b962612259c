#pragma once
// TDataSource links a TRxMemoryData to the views that show it. Views attach a
// TDataLink; the source passes every event of its table to every link, at once
// and in the order of attachment.
//
// Lifetime: either side may go first. A table that is destroyed detaches its
// sources; a source that is destroyed detaches from its table and its links.
//
// Threads: the thread that owns the table.

#include <vector>

#include "framework/memory_data.h"

namespace fw {

class TDataSource;

// A view's connection to a data source.
class TDataLink {
public:
    TDataLink() = default;
    virtual ~TDataLink();
    TDataLink(const TDataLink&) = delete;
    TDataLink& operator=(const TDataLink&) = delete;

    TDataSource* DataSource() const { return Source; }
    void SetDataSource(TDataSource* source);
    // The table behind the source, or nullptr.
    TRxMemoryData* DataSet() const;

protected:
    friend class TDataSource;
    // A table event, or the link's table changing (source or table set,
    // replaced or gone): then ActiveChanged runs.
    virtual void DataEvent(TDataEvent event) = 0;
    virtual void ActiveChanged() {}

private:
    TDataSource* Source = nullptr;
};

class TDataSource : public TComponent {
public:
    explicit TDataSource(TComponent* AOwner) : TComponent(AOwner) {}
    ~TDataSource() override;

    TRxMemoryData* DataSet() const { return Table; }
    void SetDataSet(TRxMemoryData* dataSet);

    // Called by the table for each of its events.
    void DataEvent(TDataEvent event);

private:
    friend class TDataLink;
    friend class TRxMemoryData;
    void AddLink(TDataLink* link);
    void RemoveLink(TDataLink* link);
    void TableGone();
    void NotifyActiveChanged();

    TRxMemoryData* Table = nullptr;
    std::vector<TDataLink*> Links;
};

}  // namespace fw
