// The report descriptor parser over any bytes: it must neither read outside
// them nor hang, nor depend on anything but them.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "link/HidDescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace calorix;
  // An exact-size copy, so that the sanitizers see any read past the end.
  const std::vector<std::uint8_t> bytes(data, data + size);
  const THidReportInfo info = ParseReportDescriptor(bytes.data(), bytes.size());
  // Parsing is a pure function of the bytes.
  const THidReportInfo again = ParseReportDescriptor(bytes.data(), bytes.size());
  if (again.InputReportByteLength != info.InputReportByteLength ||
      again.OutputReportByteLength != info.OutputReportByteLength ||
      again.FeatureReportByteLength != info.FeatureReportByteLength ||
      again.Damaged != info.Damaged || again.UsagePage != info.UsagePage) {
    std::fprintf(stderr, "invariant broken: two parses differ\n");
    std::abort();
  }
  return 0;
}
