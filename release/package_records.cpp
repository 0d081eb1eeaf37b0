#include "release/package_verdict.h"

namespace release {

PackageVerdict judge_package_records(const std::vector<PackageEntryRecord>& records) {
    PackageVerdict verdict;
    if (!judge_package_entry_count(verdict, records.size())) return verdict;
    const PackageRecordReader read = [](void* context, std::uint32_t index, PackageEntryRecord& record) {
        record = (*static_cast<const std::vector<PackageEntryRecord>*>(context))[index];
        return true;
    };
    judge_package_entries(verdict, PackageScan::EveryProblem, read,
                          const_cast<std::vector<PackageEntryRecord>*>(&records));
    return verdict;
}

}  // namespace release
