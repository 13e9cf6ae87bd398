#include "host/core/IoRecords.h"

namespace host {

namespace {

std::size_t countTags(const std::vector<IoNode>& nodes) {
    std::size_t count = 0;
    for (const IoNode& node : nodes) {
        count += node.tag ? 1 : countTags(node.children);
    }
    return count;
}

}  // namespace

IoRecords::IoRecords(const std::vector<IoNode>& tree)
    : records_(std::make_unique<kelvane::TIOList[]>(countTags(tree))) {
    tags_.reserve(countTags(tree));
    addNodes(tree, nullptr);
}

void IoRecords::addNodes(const std::vector<IoNode>& nodes, kelvane::TTreeNode* parent) {
    for (const IoNode& node : nodes) {
        kelvane::TIONodeRecord& record = nodeRecords_.emplace_back();  // zeroed
        if (node.tag) {
            record.Kind = kelvane::nkTag;
            record.IO = makeRecord(*node.tag);
            tags_.push_back({record.IO, &*node.tag});
            tree_.add(parent, &record, static_cast<int>(CheckState::Checked), node.name);
        } else {
            record.Kind = kelvane::nkGroup;
            kelvane::TTreeNode* group =
                tree_.add(parent, &record, static_cast<int>(CheckState::Checked), node.name);
            addNodes(node.children, group);
        }
    }
}

kelvane::TIOList* IoRecords::makeRecord(const TagSpec& spec) {
    kelvane::TIOList& record = records_[recordCount_++];  // zeroed when allocated
    record.Id = spec.id;
    if (spec.guid) {
        record.Guid = *spec.guid;
        record.HasGuid = 1;
    }
    record.TagName = texts_.add(spec.name);
    record.SigType = spec.sigType;
    if (!spec.values.empty()) {
        auto& entries = valueEntries_.emplace_back(spec.values.size());
        for (std::size_t i = 0; i < spec.values.size(); ++i) {
            entries[i].Name = texts_.add(spec.values[i].name);
            entries[i].Value = spec.values[i].value;
        }
        kelvane::TValueList& list = valueLists_.emplace_back();  // zeroed
        list.Count = static_cast<int32_t>(entries.size());
        list.Entries = entries.data();
        record.ValueList = &list;
    }
    record.RW = spec.rw;
    record.Unit = texts_.add(spec.unit);
    record.Description = texts_.add(spec.description);
    record.DataType = spec.dataType;
    record.Current.Decimals = spec.decimals;
    return &record;
}

}  // namespace host
