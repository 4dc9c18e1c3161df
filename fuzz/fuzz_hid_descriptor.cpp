// The report descriptor parser over any bytes: it must neither read outside
// them nor hang; and the same bytes read as choices of items make a
// well-formed descriptor whose lengths must be the sums of its items.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz/DescriptorModel.h"
#include "link/HidDescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace calorix;
  // An exact-size copy, so that the sanitizers see any read past the end.
  const std::vector<std::uint8_t> bytes(data, data + size);
  ParseReportDescriptor(bytes.data(), bytes.size());

  const fuzz::TBuiltDescriptor built = fuzz::BuildDescriptor(data, size);
  const THidReportInfo info = ParseReportDescriptor(built.Bytes.data(), built.Bytes.size());
  if (info.InputReportByteLength != built.Lengths[0] ||
      info.OutputReportByteLength != built.Lengths[1] ||
      info.FeatureReportByteLength != built.Lengths[2] || info.NumberedReports != built.Numbered ||
      info.Damaged) {
    std::fprintf(stderr, "invariant broken: lengths %u %u %u, the items sum to %u %u %u\n",
                 info.InputReportByteLength, info.OutputReportByteLength,
                 info.FeatureReportByteLength, built.Lengths[0], built.Lengths[1],
                 built.Lengths[2]);
    std::abort();
  }
  return 0;
}
