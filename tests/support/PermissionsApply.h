#pragma once
// Root passes permission checks through two capabilities. While one of these
// lives, the calling thread works without them, so a read-only folder or an
// unreadable file stops root too; for anybody else nothing changes.
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace calorix::test {

class TPermissionsApply {
 public:
  TPermissionsApply() : FRoot(::geteuid() == 0) { FOk = !FRoot || SetEffective(false); }
  ~TPermissionsApply() {
    if (FRoot && FOk)
      SetEffective(true);
  }
  TPermissionsApply(const TPermissionsApply&) = delete;
  TPermissionsApply& operator=(const TPermissionsApply&) = delete;
  // False when root could not give the capabilities up.
  bool Ok() const { return FOk; }

 private:
  static bool SetEffective(bool on) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0)
      return false;
    constexpr unsigned kBits = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    data[0].effective =
        on ? data[0].effective | (data[0].permitted & kBits) : data[0].effective & ~kBits;
    return ::syscall(SYS_capset, &header, data) == 0;
  }

  bool FRoot;
  bool FOk = false;
};

}  // namespace calorix::test
