// Every text the program shows, apart from the fixed captions of the dialog templates. They are the
// program's own wording, typos and hard line breaks included: the dialog boxes were laid out around these
// exact lines.
#pragma once

#include "base/outcome.h"

namespace qor::texts {

inline constexpr const char* ERROR_CAPTION = "QOR Firwmare Upgrade Error";
inline constexpr const char* NETWORKING_FAILED = "Upgrade Failed: Winsock init error";
inline constexpr const char* USER_ABORT = "Upgrade Failed: User Abort";
inline constexpr const char* NO_RESPONSE = "Upgrade Failed: No Response From QOR";
inline constexpr const char* HTTP_SOCKET_FAILED = "Upgrade Failed: Can't open HTTP socket";
inline constexpr const char* HTTP_BIND_FAILED = "Upgrade Failed: Can't bind HTTP socket";
inline constexpr const char* LISTENER_ALLOC_FAILED = "Upgrade Failed: Can't malloc for TFTP listener";
inline constexpr const char* LISTENER_SOCKET_FAILED = "Upgrade Failed: Can't create TFTP listener socket";
inline constexpr const char* LISTENER_BIND_FAILED = "Upgrade Failed: Can't bind TFTP listener socket";
inline constexpr const char* SESSION_ALLOC_FAILED = "Upgrade Failed: Can't malloc for TFTP session";
inline constexpr const char* UPLOAD_INCOMPLETE = "Upgrade Failed: Firmware Upload Incomplete";
inline constexpr const char* VERSION_NOT_MATCHING = "Upgrade Failed: Version not matching";

// The message an outcome is reported with; null for the outcomes that end without one.
constexpr const char* outcome_message(Outcome outcome) {
  switch (outcome) {
    case Outcome::networking_failed:
      return NETWORKING_FAILED;
    case Outcome::user_abort:
      return USER_ABORT;
    case Outcome::no_response:
      return NO_RESPONSE;
    case Outcome::http_socket_failed:
      return HTTP_SOCKET_FAILED;
    case Outcome::http_bind_failed:
      return HTTP_BIND_FAILED;
    case Outcome::listener_alloc_failed:
      return LISTENER_ALLOC_FAILED;
    case Outcome::listener_socket_failed:
      return LISTENER_SOCKET_FAILED;
    case Outcome::listener_bind_failed:
      return LISTENER_BIND_FAILED;
    case Outcome::session_alloc_failed:
      return SESSION_ALLOC_FAILED;
    case Outcome::upload_incomplete:
      return UPLOAD_INCOMPLETE;
    case Outcome::version_not_matching:
      return VERSION_NOT_MATCHING;
    case Outcome::none:
    case Outcome::declined:
    case Outcome::upgraded:
      break;
  }
  return nullptr;
}

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
inline constexpr const char* NO_LOCAL_ADDRESS =
    "This PC has no address on a network, so the QOR\r\n"
    "could not fetch the firmware from it.\r\n"
    "\r\n"
    "Connect this PC to the network of your QOR,\r\n"
    "then start the upgrade again.";
inline constexpr const char* TFTP_FILENAME_FORMAT = "/qor%x.bi%d";
inline constexpr const char* UPGRADE_PATH_FORMAT = "/admin/upgrade?tftp://%u.%u.%u.%u:%u%s";

inline constexpr const char* CONNECTING_TITLE_FORMAT = "Connecting with QOR@%s";
inline constexpr const char* PASSWORD_HELP =
    "This QOR requires a password in order to be\r\nupgraded. If you do not have administrator's\r\n"
    "privileges for this unit, please contact your\r\nService Provider or network administrator,\r\n"
    "before proceeding.\r\n\r\nYou must provide the QOR administrator's\r\npassword to upgrade. If you "
    "are the administrator\r\nand forgot the password, you may perform a\r\nfactory reset by entering "
    "* * * *, option 52914#,\r\nand value 1 from a telephone connected to the\r\nunit to be "
    "upgraded.\r\n\r\n* * * * * * * * * * *  Warning  * * * * * * * * * * *\r\nAll settings will revert "
    "to default values\r\nafter factory reset!  You may not be able to\r\nreestablish service after "
    "completing this upgrade\r\nwithout first reentering service configuration\r\ninformation.";
inline constexpr const char* DEFAULT_USER = "admin";

inline constexpr const char* WAITING_HELP =
    "Firmware upload will begin when the QOR is idle, where the QOR will request to download the firmware "
    "from this PC using TFTP at the first available UDP port starting at port number 69.\r\n\r\nIf firmware "
    "download does not start, please check that you have done the following: a) Hangup properly all the "
    "phones attached to the QOR, b) Disable any firewall software (such as Internet Connection Firewall) on "
    "this PC, and c) Make sure that this PC and the QOR are on the same LAN subnet; it will not work for "
    "example if this PC is behind a router while the QOR is in front of it.";
inline constexpr const char* UPLOADING_TITLE_FORMAT = "Uploading %s Firmware to QOR@%s %d/%d Bytes";
inline constexpr const char* UPDATING_TITLE_FORMAT = "Updating %s Firmware to QOR@%s";
inline constexpr const char* TARGET_STAGE = "Target";
inline constexpr const char* TRANSITION_STAGE = "Transition";

}  // namespace qor::texts
