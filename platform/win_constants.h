#pragma once
// Win32 values that the system's logic passes through the platform seam.
// They carry their own names so that this header builds without windows.h
// and never clashes with its macros; the Win32 adapters check them against
// the real definitions at compile time.
#include <cstdint>

namespace kst::win {

constexpr uint32_t kMaxPath = 260;

// Resource types. RT_RCDATA is MAKEINTRESOURCE(10), a pointer, so it is
// held by its number.
constexpr int kRtRcData = 10;

// Files and devices.
constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kFileShareRead = 1;
constexpr uint32_t kFileShareWrite = 2;
constexpr uint32_t kFileShareDelete = 4;
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kFileAttributeReadOnly = 1;
constexpr uint32_t kFileAttributeNormal = 0x80;
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;

// Registry.
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegMultiSz = 7;
constexpr uint32_t kKeyRead = 0x20019;
constexpr int32_t kErrorSuccess = 0;

// Service control manager.
constexpr uint32_t kScManagerAllAccess = 0xF003F;
constexpr uint32_t kServiceAllAccess = 0xF01FF;
constexpr uint32_t kDelete = 0x10000;
constexpr uint32_t kScManagerConnect = 1;
constexpr uint32_t kServiceQueryConfig = 1;
constexpr uint32_t kServiceChangeConfig = 2;
constexpr uint32_t kServiceKernelDriver = 1;
constexpr uint32_t kServiceBootStart = 0;
constexpr uint32_t kServiceDemandStart = 3;
constexpr uint32_t kServiceErrorIgnore = 0;
constexpr uint32_t kServiceErrorNormal = 1;

// Error codes the logic tells apart.
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorCallNotImplemented = 120;
constexpr uint32_t kErrorNotAllAssigned = 1300;
constexpr uint32_t kErrorDuplicateServiceName = 1078;
constexpr uint32_t kErrorServiceDoesNotExist = 1060;
constexpr uint32_t kErrorServiceMarkedForDelete = 1072;
constexpr uint32_t kErrorInvalidName = 123;
constexpr uint32_t kErrorBadPathname = 161;
constexpr uint32_t kErrorNotOwner = 288;

// Message boxes.
constexpr uint32_t kMbOk = 0;
constexpr uint32_t kMbYesNo = 4;
constexpr uint32_t kMbIconError = 16;
constexpr uint32_t kMbIconQuestion = 32;
constexpr uint32_t kMbIconInformation = 64;
constexpr int kIdOk = 1;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// Version information.
constexpr uint32_t kVerPlatformWin32Windows = 1;  // the 9x family
constexpr uint32_t kVerPlatformWin32Nt = 2;
constexpr uint32_t kOsVersionInfoExSize = 156;
constexpr uint32_t kOsVersionInfoSize = 148;

// Token and shutdown.
constexpr uint32_t kTokenAdjustPrivileges = 0x20;
constexpr uint32_t kTokenQuery = 0x08;
constexpr uint32_t kSePrivilegeEnabled = 2;
constexpr uint32_t kEwxReboot = 2;
constexpr uint32_t kEwxForce = 4;
constexpr uint32_t kShutdownReasonOsReconfig = 0x20004;

// Messages.
constexpr uint32_t kWmCopyData = 0x4A;

}  // namespace kst::win
