// Messages to host windows: reports (0x8064) and progress (0x8065), built from records that
// live only for the duration of the synchronous call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "kivmod/kivmod.h"

namespace kiv {

inline constexpr uint32_t kMsgLocked = 0x401;
inline constexpr uint32_t kMsgReport = 0x8064;
inline constexpr uint32_t kMsgProgress = 0x8065;
inline constexpr uint32_t kMsgCancelled = 0x8067;

// Report styles.
inline constexpr uint32_t kStyleNoText = 0x80;
inline constexpr uint32_t kStyleName = 1;
inline constexpr uint32_t kStyleTwoNames = 8;
inline constexpr uint32_t kStyleNameValue = 0x40;

// Report codes.
inline constexpr uint32_t kReportListFailed = 0xA6;
inline constexpr uint32_t kReportDetailsFailed = 0xA7;
inline constexpr uint32_t kReportPlaceholderFailed = 0xA8;
inline constexpr uint32_t kReportNoRecord = 0xA9;
inline constexpr uint32_t kReportTypeNotToPc = 0xAA;
inline constexpr uint32_t kReportTransferFailed = 0xAB;
inline constexpr uint32_t kReportPathTooLong = 0xB1;
inline constexpr uint32_t kReportFolderNameTooLong = 0xB2;
inline constexpr uint32_t kReportFolderNotWritable = 0xB3;
inline constexpr uint32_t kReportExtensionRefused = 0xB7;
inline constexpr uint32_t kReportFileTooLarge = 0xB8;
inline constexpr uint32_t kReportTargetReadOnly = 0xB9;
inline constexpr uint32_t kReportSourceReadOnly = 0xBA;
inline constexpr uint32_t kReportNoSpace = 0xBB;
inline constexpr uint32_t kReportTransfer28 = 0xBC;
inline constexpr uint32_t kReportTransferOther = 0xBD;
inline constexpr uint32_t kReportFolderFixed = 0xBE;
inline constexpr uint32_t kReportHiddenSubfolder = 0xBF;
inline constexpr uint32_t kReportFileReadOnly = 0xC0;
inline constexpr uint32_t kReportDeleteFailed = 0xC1;
inline constexpr uint32_t kReportExtensionChange = 0xC4;
inline constexpr uint32_t kReportRenameFailed = 0xC5;
inline constexpr uint32_t kReportSpaceFailed = 0xC7;
inline constexpr uint32_t kReportResumeSource = 0xC8;
inline constexpr uint32_t kReportConnectFailed = 0xCF;
inline constexpr uint32_t kReportFolderNotToPc = 0xD1;

// Progress question codes (answered by the message's return value).
inline constexpr int32_t kQuestionOverwrite = 501;
inline constexpr int32_t kQuestionHidden = 502;

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
