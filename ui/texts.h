// The texts the dialogs of the upgrade sequence show. They are the program's own wording, typos and hard
// line breaks included: the dialog boxes were laid out around these exact lines.
#pragma once

namespace qor::texts {

inline constexpr const char* PRODUCT_TITLE_FORMAT = "%s Firmware Upgrade";

inline constexpr const char* WARNING =
    "WARNING: Forcing a firmware upgrade on your QOR\r\n"
    "without prior approval from your service provider or\r\n"
    "network administrator may cause interruption to your\r\n"
    "service.  If your QOR is managed by a service\r\n"
    "provider who retains administrative control of the\r\n"
    "device, please contact the service provider for\r\n"
    "authorization before proceeding.  In such cases, the\r\n"
    "most current, approved for service firmware is\r\n"
    "automatically provided by your service provider without\r\n"
    "any onus on the end user to upgrade manually.";

inline constexpr const char* CONFIRM_TITLE_FORMAT = "Confirm Upgrade to Ver. %s";
inline constexpr const char* CONFIRM =
    "The following information was extracted\r\n"
    "from your QOR. Please click \"Upgrade\"\r\n"
    "if you would like to proceed. If you would\r\n"
    "like to quit click \"Cancel\".";
// Formatted with CONFIRM and the transition image's version.
inline constexpr const char* CONFIRM_TRANSITION_FORMAT =
    "%s\r\n\r\n"
    "Note: Since your current firmware version\r\n"
    "is older than %s, this upgrade procedure\r\n"
    "requires additional steps and will be\r\n"
    "slightly longer.\r\n";

inline constexpr const char* SUCCESS_TITLE_FORMAT = "QOR@%s Upgrade Successful!";
inline constexpr const char* SUCCESS =
    "Your QOR has been successfully\r\n"
    "upgraded to the version shown\r\n"
    "below.";

inline constexpr const char* ADDRESS_INTRO = "This program will upgrade your QOR\r\nfirmware to:";
inline constexpr const char* ADDRESS_PHONE_HELP =
    "To proceed, please provide the IP address\r\n"
    "of your QOR. To find out the IP address of\r\n"
    "your QOR, press the I button on the phone,\r\n"
    "select \"Network\" option, and check the\r\n"
    "value of \"Current IP\". For example, 10.1.0.13\r\n"
    "\r\n"
    "Please enter IP address of your QOR:";
inline constexpr const char* ADDRESS_HANDSET_HELP =
    "To proceed, please provide the IP address\r\n"
    "of your QOR. To find out the IP address\r\n"
    "of your QOR, using a telephone handset,\r\n"
    "enter * * * *, option 110#, and write down\r\n"
    "the value. For example, 10.1.0.123\r\n"
    "\r\n"
    "Please enter IP address of your QOR:";
inline constexpr const char* VERSION_FORMAT = "Version %s";
inline constexpr const char* INVALID_ADDRESS = "Invalid IP Address";
inline constexpr const char* INVALID_ADDRESS_CAPTION = "Error";
inline constexpr const char* TFTP_FILENAME_FORMAT = "/qor%x.bi%d";

}  // namespace qor::texts
