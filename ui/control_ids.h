// Dialog template numbers and control ids, grouped per dialog. The templates (ui/dialog_templates.cpp),
// the dialog procedures and the backends all name controls through these; no raw numbers elsewhere.
#pragma once

namespace qor {

// Dialog template numbers.
inline constexpr int IDD_ADDRESS = 101;
inline constexpr int IDD_CONFIRM = 103;
inline constexpr int IDD_PASSWORD = 104;
inline constexpr int IDD_CONNECTING = 105;
inline constexpr int IDD_UPLOAD = 110;
inline constexpr int IDD_SUCCESS = 111;
inline constexpr int IDD_WAITING = 114;
inline constexpr int IDD_WARNING = 139;
inline constexpr int IDD_CONFIRM_TRANSITION = 304;
inline constexpr int IDD_ADDRESS_PHONE = 305;

// Icon resources.
inline constexpr int IDI_ADAPTER = 106;
inline constexpr int IDI_PHONE = 286;

// Ids that mean the same in every template that has them.
inline constexpr int IDOK = 1;      // OK, Continue, Upgrade
inline constexpr int IDCANCEL = 2;  // Cancel; also Escape and the close box
inline constexpr int IDC_MAIN_TEXT = 1007;
inline constexpr int IDC_PROGRESS = 1010;

namespace warning_ids {  // 139
inline constexpr int TEXT = 1021;
}

namespace address_ids {  // 101 and 305
inline constexpr int INTRO = IDC_MAIN_TEXT;
inline constexpr int HELP = 1008;
inline constexpr int VERSION = 1015;
inline constexpr int LOCAL_ADDRESSES = 1017;
inline constexpr int ADDRESS = 1000;
}  // namespace address_ids

namespace password_ids {  // 104
inline constexpr int HELP = IDC_MAIN_TEXT;
inline constexpr int USERNAME = 1003;
inline constexpr int PASSWORD = 1005;
}  // namespace password_ids

namespace confirm_ids {  // 103 and 304
inline constexpr int TEXT = IDC_MAIN_TEXT;
inline constexpr int SERIAL_NUMBER = 1002;
inline constexpr int MAC_ADDRESS = 1003;
inline constexpr int SOFTWARE_VERSION = 1004;
inline constexpr int HARDWARE_VERSION = 1005;
inline constexpr int PRODUCT_NAME = 1006;
}  // namespace confirm_ids

namespace waiting_ids {  // 114
inline constexpr int TEXT = 1022;
inline constexpr int BAR = IDC_PROGRESS;
}  // namespace waiting_ids

namespace success_ids {  // 111
inline constexpr int TEXT = IDC_MAIN_TEXT;
inline constexpr int VERSION = 1004;
}  // namespace success_ids

// The bar of the connecting window (105) and the upload window (110) is IDC_PROGRESS.

}  // namespace qor
