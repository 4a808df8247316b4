// Messages to host windows: reports (0x8064) and progress (0x8065), built from records that
// live only for the duration of the synchronous call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "kivmod/kivmod.h"

namespace kiv {

inline constexpr uint32_t kMsgLocked = KIV_MSG_LOCKED;
inline constexpr uint32_t kMsgReport = KIV_MSG_REPORT;
inline constexpr uint32_t kMsgProgress = KIV_MSG_PROGRESS;
inline constexpr uint32_t kMsgCancelled = KIV_MSG_CANCELLED;

// Report styles.
inline constexpr uint32_t kStyleNoText = KIV_STYLE_NO_TEXT;
inline constexpr uint32_t kStyleName = KIV_STYLE_NAME;
inline constexpr uint32_t kStyleTwoNames = KIV_STYLE_TWO_NAMES;
inline constexpr uint32_t kStyleNameValue = KIV_STYLE_NAME_VALUE;

// Report codes (the header names them for hosts).
inline constexpr uint32_t kReportListFailed = KIV_REPORT_LIST_FAILED;
inline constexpr uint32_t kReportDetailsFailed = KIV_REPORT_DETAILS_FAILED;
inline constexpr uint32_t kReportPlaceholderFailed = KIV_REPORT_LOCAL_FILE_FAILED;
inline constexpr uint32_t kReportNoRecord = KIV_REPORT_NOT_KNOWN;
inline constexpr uint32_t kReportTypeNotToPc = KIV_REPORT_TYPE_NOT_TO_PC;
inline constexpr uint32_t kReportTransferFailed = KIV_REPORT_TRANSFER_FAILED;
inline constexpr uint32_t kReportPathTooLong = KIV_REPORT_PATH_TOO_LONG;
inline constexpr uint32_t kReportFolderNameTooLong = KIV_REPORT_FOLDER_NAME_TOO_LONG;
inline constexpr uint32_t kReportFolderNotWritable = KIV_REPORT_FOLDER_NOT_WRITABLE;
inline constexpr uint32_t kReportExtensionRefused = KIV_REPORT_EXTENSION_REFUSED;
inline constexpr uint32_t kReportFileTooLarge = KIV_REPORT_FILE_TOO_LARGE;
inline constexpr uint32_t kReportTargetReadOnly = KIV_REPORT_TARGET_READ_ONLY;
inline constexpr uint32_t kReportSourceReadOnly = KIV_REPORT_SOURCE_READ_ONLY;
inline constexpr uint32_t kReportNoSpace = KIV_REPORT_NO_SPACE;
inline constexpr uint32_t kReportTransfer28 = KIV_REPORT_SEND_REFUSED;
inline constexpr uint32_t kReportTransferOther = KIV_REPORT_SEND_FAILED;
inline constexpr uint32_t kReportFolderFixed = KIV_REPORT_FOLDER_FIXED;
inline constexpr uint32_t kReportHiddenSubfolder = KIV_REPORT_HIDDEN_SUBFOLDER;
inline constexpr uint32_t kReportFileReadOnly = KIV_REPORT_FILE_READ_ONLY;
inline constexpr uint32_t kReportDeleteFailed = KIV_REPORT_DELETE_FAILED;
inline constexpr uint32_t kReportExtensionChange = KIV_REPORT_EXTENSION_CHANGE;
inline constexpr uint32_t kReportRenameFailed = KIV_REPORT_RENAME_FAILED;
inline constexpr uint32_t kReportSpaceFailed = KIV_REPORT_SPACE_FAILED;
inline constexpr uint32_t kReportResumeSource = KIV_REPORT_RESUME_SOURCE;
inline constexpr uint32_t kReportConnectFailed = KIV_REPORT_CONNECT_FAILED;
inline constexpr uint32_t kReportFolderNotToPc = KIV_REPORT_FOLDER_NOT_TO_PC;

// Progress question codes (answered by the message's return value).
inline constexpr int32_t kQuestionOverwrite = KIV_QUESTION_OVERWRITE;
inline constexpr int32_t kQuestionResume = KIV_QUESTION_RESUME;

struct Progress {
  std::u16string text;
  int32_t itemCount = 0;
  uint32_t bytesDone = 0;
  uint32_t totalBytes = 0;
  int32_t further = 0;
  int32_t question = 0;
  int32_t continuing = 1;
};

intptr_t SendReport(KivHwnd window, uint32_t code, uint32_t style, std::u16string_view text1 = {},
                    std::u16string_view text2 = {}, float value = 0.0f);
intptr_t SendProgress(KivHwnd window, const Progress& progress);

}  // namespace kiv
