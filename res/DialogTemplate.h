#pragma once

#include <array>
#include <span>
#include <string_view>

// The window layouts as data: every control of a dialog with its id, kind, text, position in
// dialog units and style, in template order (which is also the tab order), the items of the
// drop-down lists, and the string table.
namespace kalvor::res {

inline constexpr int kNoId = -1;

enum class Kind {
    Edit,       // single-line edit
    Spin,       // up-down control attached to the edit before it
    Label,      // static text
    GroupBox,   // frame with a caption
    DropList,   // drop-down list; the height is that of the opened list
    PushButton, // push button, showing an icon when the style says so
    Picture,    // static icon
    CheckBox,   // check box
    IpAddress,  // four fields of 0 to 255
    LogEdit,    // read-only multi-line pane
};

// Style bits; which ones apply depends on the kind.
enum Style : unsigned {
    kLeft = 0x0001,
    kCentre = 0x0002,
    kReadOnly = 0x0004,
    kDigitsOnly = 0x0008,
    kAutoHScroll = 0x0010,
    kDefault = 0x0020,  // the dialog's default push button
    kLeftText = 0x0040, // check box with its text on the left of the box
    kIcon = 0x0080,     // push button showing an icon
    kVScroll = 0x0100,
    kHidden = 0x0200, // hidden when the window opens
    kArrowKeys = 0x0400,
    kSetBuddyInt = 0x0800,
};

struct ControlTemplate {
    int id;
    Kind kind;
    std::string_view text; // UTF-8; for a picture, the number of the icon it shows
    int x, y, cx, cy;
    unsigned style;
};

struct DialogTemplate {
    int id;
    std::string_view caption;
    int cx, cy;
    std::string_view fontFamily;
    int fontPointSize;
    std::span<const ControlTemplate> controls;
};

// Fonts: the layout is measured in units of this font; DejaVu Sans comes with every Debian
// desktop and stands in for the 8 pt sans-serif face the layout was drawn for.
inline constexpr std::string_view kDialogFont = "DejaVu Sans";
inline constexpr int kDialogFontPointSize = 8;

// Operator window, template 102.
inline constexpr ControlTemplate kOperatorControls[] = {
    {1000, Kind::Edit, "", 23, 43, 25, 15, kCentre | kDigitsOnly | kReadOnly},
    {1001, Kind::Spin, "Spin1", 53, 43, 11, 15, kArrowKeys | kSetBuddyInt},
    {1003, Kind::Edit, "", 224, 43, 240, 15, kAutoHScroll},
    {kNoId, Kind::Label, "Address (Decimal)", 23, 27, 60, 10, kLeft},
    {kNoId, Kind::Label, "Attribute (ASCII)", 93, 27, 60, 10, kLeft},
    {kNoId, Kind::Label, "Message or parameter frame (ASCII - 120 char max)", 224, 27, 240, 10,
     kCentre},
    {1004, Kind::DropList, "", 103, 43, 30, 75, 0},
    {1005, Kind::DropList, "", 12, 140, 45, 107, 0},
    {1017, Kind::Label, "COM Port :", 13, 129, 45, 10, kCentre},
    {4, Kind::PushButton, "", 268, 119, 35, 30, kIcon | kDefault},
    {kNoId, Kind::Label, "Quit", 461, 142, 35, 10, kCentre},
    {1010, Kind::Label, "Send", 268, 105, 35, 10, kCentre},
    {1006, Kind::Picture, "", 229, 123, 20, 20, 0},
    {1011, Kind::Label, "Acknowledge", 213, 105, 50, 10, kCentre},
    {kNoId, Kind::GroupBox, "Communication", 7, 85, 195, 75, 0},
    {kNoId, Kind::GroupBox, "Link with display", 208, 85, 105, 75, 0},
    {kNoId, Kind::GroupBox, "Frame content", 7, 7, 505, 70, 0},
    {kNoId, Kind::GroupBox, "Application", 447, 85, 65, 75, 0},
    {1008, Kind::CheckBox, "Wait an ACK", 139, 106, 59, 15, kLeftText},
    {1, Kind::PushButton, "", 462, 108, 35, 30, kIcon},
    {1009, Kind::DropList, "", 63, 140, 45, 111, 0},
    {1020, Kind::Label, "Speed (Bds) :", 63, 129, 45, 10, kCentre},
    {5, Kind::PushButton, "", 395, 108, 35, 30, kIcon},
    {kNoId, Kind::Label, "Start / Stop", 389, 142, 45, 10, kCentre},
    {1012, Kind::Label, "Send :", 213, 114, 35, 10, kLeft | kHidden},
    {1013, Kind::Label, "Good :", 213, 129, 35, 10, kLeft | kHidden},
    {1014, Kind::Label, "Bad :", 213, 145, 35, 10, kLeft | kHidden},
    {1015, Kind::Label, "0", 273, 114, 35, 10, kCentre | kHidden},
    {1018, Kind::Label, "0", 273, 129, 35, 10, kCentre | kHidden},
    {1019, Kind::Label, "0", 273, 145, 35, 10, kCentre | kHidden},
    {kNoId, Kind::Label, "Delay (ms) :", 335, 106, 45, 15, kLeft},
    {1016, Kind::Edit, "", 335, 122, 40, 15, kAutoHScroll},
    {1021, Kind::IpAddress, "IPAddress1", 50, 114, 81, 14, 0},
    {1022, Kind::Label, "IP address :", 9, 118, 40, 10, kCentre},
    {1023, Kind::DropList, "", 61, 97, 55, 40, 0},
    {1024, Kind::Label, "Mode", 21, 98, 35, 10, kCentre},
    {kNoId, Kind::GroupBox, "Loop", 319, 85, 121, 75, 0},
    {1026, Kind::CheckBox, "XOR TEST", 332, 142, 52, 10, 0},
    {1032, Kind::CheckBox, "Use XOR", 139, 125, 59, 10, kLeftText},
    {1033, Kind::CheckBox, "Use Parity", 139, 143, 59, 10, kLeftText},
    {1034, Kind::LogEdit, "", 7, 167, 505, 76, kReadOnly | kVScroll},
    {1027, Kind::Label, "Target Port :", 9, 140, 45, 10, kCentre},
    {1025, Kind::Edit, "", 56, 136, 40, 15, kAutoHScroll},
};

inline constexpr DialogTemplate kOperatorDialog{
    102, "Kalvor - Version 6", 519, 250, kDialogFont, kDialogFontPointSize, kOperatorControls};

// About box, template 100.
inline constexpr ControlTemplate kAboutControls[] = {
    {kNoId, Kind::Picture, "128", 11, 17, 20, 20, 0},
    {kNoId, Kind::Label, "Kalvor", 40, 10, 119, 8, kLeft},
    {kNoId, Kind::Label, "Version : ", 40, 25, 40, 8, kLeft},
    {1028, Kind::Label, "X.X", 80, 25, 40, 8, kLeft},
    {1, Kind::PushButton, "OK", 178, 7, 50, 14, kDefault},
};

inline constexpr DialogTemplate kAboutDialog{100,         "A propos de Kalvor", 235,           62,
                                             kDialogFont, kDialogFontPointSize, kAboutControls};

// Items of the drop-down lists, filled in this order, unsorted.
struct ComboItems {
    int id;
    std::span<const std::string_view> items;
};

// "N" stands twice: the 24th and the 25th item both give the attribute N.
inline constexpr std::string_view kAttributeItems[] = {
    "0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "A", "B", "C", "D", "E", "F",
    "G", "H", "I", "J", "K", "L", "M", "N", "N", "O", "P", "Q", "R", "S", "T", "U",
    "V", "W", "X", "Y", "Z", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k",
    "l", "m", "n", "o", "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z"};
static_assert(std::size(kAttributeItems) == 63);

inline constexpr std::string_view kComPortItems[] = {
    "COM1",  "COM2",  "COM3",  "COM4",  "COM5",  "COM6",  "COM7",  "COM8",  "COM9",  "COM10",
    "COM11", "COM12", "COM13", "COM14", "COM15", "COM16", "COM17", "COM18", "COM19", "COM20"};
static_assert(std::size(kComPortItems) == 20);

inline constexpr std::string_view kSpeedItems[] = {"   300", " 1200", " 2400",
                                                   " 4800",  " 9600", "19200"};

inline constexpr std::string_view kModeItems[] = {"SERIAL", "UDP", "TCP"};

inline constexpr ComboItems kOperatorComboItems[] = {
    {1004, kAttributeItems},
    {1005, kComPortItems},
    {1009, kSpeedItems},
    {1023, kModeItems},
};

// String table.
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDS_VERSION = 102;

struct StringEntry {
    int id;
    std::string_view text; // UTF-8
};

inline constexpr StringEntry kStringTable[] = {
    {IDS_ABOUTBOX, "&A propos de Kalvor..."},
    {IDS_VERSION, "6.4"},
};

// The string of the table with that id; empty when there is none.
constexpr std::string_view LoadString(int id) {
    for (const StringEntry& entry : kStringTable)
        if (entry.id == id)
            return entry.text;
    return {};
}

// Messages of the data exchange checks (UTF-8; %1 and %2 are replaced by the limits).
inline constexpr std::string_view kParseIntMessage = "Tapez un nombre entier.";
inline constexpr std::string_view kParseIntRangeMessage =
    "Tapez un nombre entier compris entre %1 et %2.";
inline constexpr std::string_view kParseStringSizeMessage = "Tapez %1 caractères au maximum.";

// Icon resources: the Qt resource path of icon n is ":/kalvor/icons/<n>.svg".
inline constexpr int kIconIds[] = {128, 130, 135, 136, 137, 138, 140};

} // namespace kalvor::res
