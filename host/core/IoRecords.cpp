#include "IoRecords.h"

namespace host {

namespace {

std::size_t CountTags(const std::vector<IoNode>& nodes) {
    std::size_t count = 0;
    for (const IoNode& node : nodes) {
        count += node.Tag ? 1 : CountTags(node.Children);
    }
    return count;
}

}  // namespace

IoRecords::IoRecords(const std::vector<IoNode>& tree)
    : records_(std::make_unique<kelvane::TIOList[]>(CountTags(tree))) {
    tags_.reserve(CountTags(tree));
    AddNodes(tree, nullptr);
}

void IoRecords::AddNodes(const std::vector<IoNode>& nodes, kelvane::TTreeNode* parent) {
    for (const IoNode& node : nodes) {
        kelvane::TIONodeRecord& record = nodeRecords_.emplace_back();  // zeroed
        if (node.Tag) {
            record.Kind = kelvane::nkTag;
            record.IO = MakeRecord(*node.Tag);
            tags_.push_back({record.IO, &*node.Tag});
            tree_.Add(parent, &record, static_cast<int>(CheckState::Checked), node.Name);
        } else {
            record.Kind = kelvane::nkGroup;
            kelvane::TTreeNode* group =
                tree_.Add(parent, &record, static_cast<int>(CheckState::Checked), node.Name);
            AddNodes(node.Children, group);
        }
    }
}

kelvane::TIOList* IoRecords::MakeRecord(const TagSpec& spec) {
    kelvane::TIOList& record = records_[recordCount_++];  // zeroed when allocated
    record.Id = spec.Id;
    if (spec.Guid) {
        record.Guid = *spec.Guid;
        record.HasGuid = 1;
    }
    record.TagName = texts_.Add(spec.Name);
    record.SigType = spec.SigType;
    if (!spec.Values.empty()) {
        auto& entries = valueEntries_.emplace_back(spec.Values.size());
        for (std::size_t i = 0; i < spec.Values.size(); ++i) {
            entries[i].Name = texts_.Add(spec.Values[i].Name);
            entries[i].Value = spec.Values[i].Value;
        }
        kelvane::TValueList& list = valueLists_.emplace_back();  // zeroed
        list.Count = static_cast<int32_t>(entries.size());
        list.Entries = entries.data();
        record.ValueList = &list;
    }
    record.RW = spec.RW;
    record.Unit = texts_.Add(spec.Unit);
    record.Description = texts_.Add(spec.Description);
    record.DataType = spec.DataType;
    record.Current.Decimals = spec.Decimals;
    return &record;
}

}  // namespace host
