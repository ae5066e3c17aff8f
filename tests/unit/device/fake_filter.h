#pragma once
// A scripted stand-in for the filter's control device, answering each
// request kind as a test sets it up, and recording the pass-through
// requests it was sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/control_device.h"
#include "device/scsi_layout.h"
#include "platform/fake/fake_platform.h"
#include "tests/unit/support/scsi_entry.h"

namespace kst::test {

// How the device answers one pass-through request.
struct PassAnswer {
  int result = 1;  // DeviceIoControl's return value
  uint8_t status = 0;
  uint8_t senseLength = 0;
  std::array<uint8_t, KST_SENSE_SIZE> sense{};
  std::vector<uint8_t> data;  // written to the start of the data buffer
};

// Inquiry data of a device: type byte, byte 1, and the vendor and product text.
inline std::vector<uint8_t> InquiryBytes(uint8_t type, uint8_t byte1,
                                         const std::string& vendorProduct = "") {
  std::vector<uint8_t> data(96, 0);
  data[0] = type;
  data[1] = byte1;
  std::copy(vendorProduct.begin(), vendorProduct.end(), data.begin() + 8);
  data[35] = 'R';  // last byte of the revision, inside the 36 kept
  data[36] = 'X';  // first byte past them
  return data;
}

inline PassAnswer RemovableCd(const std::string& vendorProduct = "") {
  return PassAnswer{1, 0, 0, {}, InquiryBytes(0x05, 0x80, vendorProduct)};
}

// An answer whose sense data carry `key` in byte 2 and `code` in byte 12.
inline PassAnswer WithSense(PassAnswer answer, uint8_t key, uint8_t code) {
  answer.senseLength = KST_SENSE_SIZE;
  answer.sense[2] = key;
  answer.sense[12] = code;
  return answer;
}

// The device the request addresses, as the filter would read it.
struct Addressed {
  uint32_t hbaNumber;
  uint8_t pathId, targetId, lun;
  std::string adapterName;
};

inline uint32_t Le32At(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

class FakeFilter {
 public:
  explicit FakeFilter(fake::FakePlatform& fp) : fp_(fp) {
    fp.devices.devices[KST_CONTROL_DEVICE_PATH] = [this](uint32_t code, const uint8_t* in,
                                                    uint32_t inSize, uint8_t* out,
                                                    uint32_t outSize, uint8_t* ref,
                                                    uint32_t refSize) {
      return Answer(code, in, inSize, out, outSize, ref, refSize);
    };
  }
  // The filter stops running: the device path no longer opens.
  void Stop() { fp_.devices.devices.erase(KST_CONTROL_DEVICE_PATH); }

  int initiateResult = 1;
  int uninitiateResult = 1;
  int countResult = 1;
  std::optional<int32_t> reportedCount;  // default: the number of entries
  int entriesResult = 1;
  std::vector<ScsiInfo> entries;
  // Answers taken in order, one per pass-through request; when none are
  // left, `inquiry` answers, and without it the request fails.
  std::vector<PassAnswer> script;
  std::function<PassAnswer(const Addressed&)> inquiry;

  std::vector<PassThroughRequest> passes;     // the requests as received
  std::vector<bool> bufferZeroOnArrival;      // per pass-through request
  std::vector<uint32_t> entriesRequestSizes;  // output sizes of entries requests

 private:
  int Answer(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
             uint8_t* ref, uint32_t refSize) {
    switch (code) {
      case IOCTL_KESTRUNE_INITIATE:
        EXPECT_TRUE(in == nullptr && inSize == 0 && out == nullptr && outSize == 0);
        return initiateResult;
      case IOCTL_KESTRUNE_UNINITIATE:
        EXPECT_TRUE(in == nullptr && inSize == 0 && out == nullptr && outSize == 0);
        return uninitiateResult;
      case IOCTL_KESTRUNE_GET_SCSI_INFO:
        return Info(out, outSize);
      case IOCTL_KESTRUNE_SCSI_PASS_THROUGH:
        return PassThrough(in, inSize, out, outSize, ref, refSize);
    }
    ADD_FAILURE() << "unknown control code " << code;
    return 0;
  }

  int Info(uint8_t* out, uint32_t outSize) {
    if (outSize == 4) {
      EXPECT_EQ(Le32At(out), 0u) << "count buffer not zeroed";
      int32_t count = reportedCount.value_or(int32_t(entries.size()));
      std::memcpy(out, &count, 4);  // the test machine is little-endian too
      return countResult;
    }
    entriesRequestSizes.push_back(outSize);
    EXPECT_TRUE(std::all_of(out, out + outSize, [](uint8_t b) { return b == 0; }));
    for (size_t i = 0; i < entries.size() && (i + 1) * KST_SCSI_INFO_SIZE <= outSize; ++i) {
      ScsiInfoBytes bytes = EncodeScsiInfo(entries[i]);
      std::copy(bytes.begin(), bytes.end(), out + i * KST_SCSI_INFO_SIZE);
    }
    return entriesResult;
  }

  int PassThrough(const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
                  uint8_t* ref, uint32_t refSize) {
    EXPECT_EQ(inSize, KST_PT_REQUEST_SIZE);
    EXPECT_EQ(outSize, KST_PT_REQUEST_SIZE);
    EXPECT_EQ(in, out) << "the request is updated in place";
    EXPECT_EQ(refSize, KST_INQUIRY_BUFFER_SIZE);
    if (ref == nullptr || inSize != KST_PT_REQUEST_SIZE) return 0;
    EXPECT_EQ(Le32At(in + KST_PT_DATA_BUFFER), uint32_t(reinterpret_cast<uintptr_t>(ref)));
    PassThroughRequest request;
    std::copy(in, in + KST_PT_REQUEST_SIZE, request.begin());
    passes.push_back(request);
    bufferZeroOnArrival.push_back(std::all_of(ref, ref + refSize, [](uint8_t b) { return b == 0; }));
    PassAnswer answer;
    if (!script.empty()) {
      answer = script.front();
      script.erase(script.begin());
    } else if (inquiry) {
      answer = inquiry(Address(request));
    } else {
      answer.result = 0;
    }
    out[KST_PT_STATUS] = answer.status;
    out[KST_PT_SENSE_LENGTH] = answer.senseLength;
    std::copy(answer.sense.begin(), answer.sense.end(), out + KST_PT_SENSE);
    std::copy_n(answer.data.begin(), std::min<size_t>(answer.data.size(), refSize), ref);
    return answer.result;
  }

  static Addressed Address(const PassThroughRequest& r) {
    std::string name(r.begin() + KST_PT_ADAPTER_NAME, r.begin() + KST_PT_ADAPTER_NAME + 8);
    name.resize(std::strlen(name.c_str()));
    return {Le32At(&r[0]), r[KST_PT_PATH_ID], r[KST_PT_TARGET_ID], r[KST_PT_LUN],
            name};
  }

  fake::FakePlatform& fp_;
};

}  // namespace kst::test
