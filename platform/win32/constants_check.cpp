// The logic names the Win32 values it passes through the seam without
// windows.h (platform/win_constants.h); this file holds each of them to the
// definition it mirrors.
#include "platform/win32/windows_api.h"

#include "platform/win_constants.h"

namespace kst::win {

static_assert(kMaxPath == MAX_PATH);

static_assert(kGenericRead == GENERIC_READ);
static_assert(kGenericWrite == GENERIC_WRITE);
static_assert(kFileShareRead == FILE_SHARE_READ);
static_assert(kFileShareWrite == FILE_SHARE_WRITE);
static_assert(kFileShareDelete == FILE_SHARE_DELETE);
static_assert(kCreateAlways == CREATE_ALWAYS);
static_assert(kOpenExisting == OPEN_EXISTING);
static_assert(kFileAttributeReadOnly == FILE_ATTRIBUTE_READONLY);
static_assert(kFileAttributeNormal == FILE_ATTRIBUTE_NORMAL);
static_assert(kInvalidFileAttributes == INVALID_FILE_ATTRIBUTES);

static_assert(kRegSz == REG_SZ);
static_assert(kRegMultiSz == REG_MULTI_SZ);
static_assert(kKeyRead == KEY_READ);
static_assert(kErrorSuccess == ERROR_SUCCESS);

static_assert(kScManagerAllAccess == SC_MANAGER_ALL_ACCESS);
static_assert(kServiceAllAccess == SERVICE_ALL_ACCESS);
static_assert(kDelete == DELETE);
static_assert(kScManagerConnect == SC_MANAGER_CONNECT);
static_assert(kServiceQueryConfig == SERVICE_QUERY_CONFIG);
static_assert(kServiceChangeConfig == SERVICE_CHANGE_CONFIG);
static_assert(kServiceKernelDriver == SERVICE_KERNEL_DRIVER);
static_assert(kServiceBootStart == SERVICE_BOOT_START);
static_assert(kServiceDemandStart == SERVICE_DEMAND_START);
static_assert(kServiceErrorIgnore == SERVICE_ERROR_IGNORE);
static_assert(kServiceErrorNormal == SERVICE_ERROR_NORMAL);

static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(kErrorPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(kErrorSharingViolation == ERROR_SHARING_VIOLATION);
static_assert(kErrorAlreadyExists == ERROR_ALREADY_EXISTS);
static_assert(kErrorCallNotImplemented == ERROR_CALL_NOT_IMPLEMENTED);
static_assert(kErrorNotAllAssigned == ERROR_NOT_ALL_ASSIGNED);
static_assert(kErrorDuplicateServiceName == ERROR_DUPLICATE_SERVICE_NAME);
static_assert(kErrorServiceDoesNotExist == ERROR_SERVICE_DOES_NOT_EXIST);
static_assert(kErrorServiceMarkedForDelete == ERROR_SERVICE_MARKED_FOR_DELETE);
static_assert(kErrorInvalidName == ERROR_INVALID_NAME);
static_assert(kErrorBadPathname == ERROR_BAD_PATHNAME);
static_assert(kErrorNotOwner == ERROR_NOT_OWNER);

static_assert(kMbOk == MB_OK);
static_assert(kMbYesNo == MB_YESNO);
static_assert(kMbIconError == MB_ICONERROR);
static_assert(kMbIconQuestion == MB_ICONQUESTION);
static_assert(kMbIconInformation == MB_ICONINFORMATION);
static_assert(kIdOk == IDOK);
static_assert(kIdYes == IDYES);
static_assert(kIdNo == IDNO);

static_assert(kVerPlatformWin32Nt == VER_PLATFORM_WIN32_NT);
static_assert(kOsVersionInfoExSize == sizeof(OSVERSIONINFOEXA));
static_assert(kOsVersionInfoSize == sizeof(OSVERSIONINFOA));

static_assert(kTokenAdjustPrivileges == TOKEN_ADJUST_PRIVILEGES);
static_assert(kTokenQuery == TOKEN_QUERY);
static_assert(kSePrivilegeEnabled == SE_PRIVILEGE_ENABLED);
static_assert(kEwxReboot == EWX_REBOOT);
static_assert(kEwxForce == EWX_FORCE);
static_assert(kShutdownReasonOsReconfig ==
              (SHTDN_REASON_MAJOR_OPERATINGSYSTEM | SHTDN_REASON_MINOR_RECONFIG));

static_assert(kWmCopyData == WM_COPYDATA);

}  // namespace kst::win
