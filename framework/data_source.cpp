#include "framework/data_source.h"

#include <algorithm>

namespace fw {

TDataLink::~TDataLink() {
    if (Source)
        Source->RemoveLink(this);
}

void TDataLink::SetDataSource(TDataSource* source) {
    if (source == Source)
        return;
    if (Source)
        Source->RemoveLink(this);
    Source = source;
    if (Source)
        Source->AddLink(this);
    ActiveChanged();
}

TRxMemoryData* TDataLink::DataSet() const {
    return Source ? Source->DataSet() : nullptr;
}

TDataSource::~TDataSource() {
    if (Table)
        Table->DetachDataSource(this);
    Table = nullptr;
    for (TDataLink* link : std::vector<TDataLink*>(Links)) {
        link->Source = nullptr;
        link->ActiveChanged();
    }
}

void TDataSource::SetDataSet(TRxMemoryData* dataSet) {
    if (dataSet == Table)
        return;
    if (Table)
        Table->DetachDataSource(this);
    Table = dataSet;
    if (Table)
        Table->AttachDataSource(this);
    NotifyActiveChanged();
}

void TDataSource::DataEvent(TDataEvent event) {
    for (TDataLink* link : std::vector<TDataLink*>(Links)) {
        // A link removed by an earlier one in this round is not told.
        if (std::find(Links.begin(), Links.end(), link) != Links.end())
            link->DataEvent(event);
    }
}

void TDataSource::AddLink(TDataLink* link) {
    if (std::find(Links.begin(), Links.end(), link) == Links.end())
        Links.push_back(link);
}

void TDataSource::RemoveLink(TDataLink* link) {
    std::erase(Links, link);
}

void TDataSource::TableGone() {
    Table = nullptr;
    NotifyActiveChanged();
}

void TDataSource::NotifyActiveChanged() {
    for (TDataLink* link : std::vector<TDataLink*>(Links))
        link->ActiveChanged();
}

}  // namespace fw
