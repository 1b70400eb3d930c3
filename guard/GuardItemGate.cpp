#include "guard/GuardItemGate.h"

#include "locker/DiskAdmission.h"

namespace vaultmere {

std::wstring GuardItemGate::Approve(ConnectionId connection, const std::wstring& path, ApprovedFolder& approved) {
    const LockRule rule;
    DiskAdmissionProbe probe(tokenOf_ ? tokenOf_(connection) : nullptr, rule);
    AdmissionVerdict verdict = Admit(path, AdmissionWay{false, treeLimit_}, probe);
    approved = verdict.approved;
    return std::move(verdict.refusal);
}

}  // namespace vaultmere
