// The bilingual interface text table and its self-test.
#include "engine/ui_strings.h"

#include <set>

namespace {

#define LRM "\u200E"

const std::vector<UiString> k_table = {
    {"app_title", "كاميرا الشاشة " LRM "Vistrel" LRM, "Vistrel screen camera"},
    {"tab_status", "الحالة", "Status"},
    {"tab_video", "الفيديو", "Video"},
    {"tab_network", "الشبكة", "Network"},
    {"tab_users", "المستخدمون", "Users"},
    {"tab_about", "حول", "About"},
    {"address", "العنوان", "Address"},
    {"rtsp_main", "رابط البث الرئيسي", "Main stream link"},
    {"rtsp_sub", "رابط البث الفرعي", "Sub stream link"},
    {"sub_off", "البث الفرعي معطّل", "Sub stream disabled"},
    {"onvif_link", "عنوان " LRM "ONVIF" LRM, "ONVIF address"},
    {"web_link", "لوحة الويب", "Web panel"},
    {"copy", "نسخ", "Copy"},
    {"copied", "تم النسخ", "Copied"},
    {"viewers", "المشاهدون", "Viewers"},
    {"no_viewers", "لا يوجد مشاهدون", "No viewers"},
    {"viewer_main", "البث الرئيسي", "main stream"},
    {"viewer_sub", "البث الفرعي", "sub stream"},
    {"viewer_onvif", "اتصال " LRM "ONVIF" LRM, "ONVIF contact"},
    {"viewer_playing", "يشاهد الآن", "watching"},
    {"viewer_left", "غادر", "left"},
    {"seconds_ago", "ثانية مضت", "s ago"},
    {"motion", "الحركة", "Motion"},
    {"motion_off", "كشف الحركة معطّل", "Motion detection off"},
    {"motion_idle", "لا حركة", "No motion"},
    {"motion_active", "حركة مكتشفة", "Motion detected"},
    {"ports_ok", "كل المنافذ تعمل كما طُلب", "All ports run as configured"},
    {"streaming_on", "البث يعمل", "Streaming on"},
    {"streaming_paused", "البث متوقف مؤقتًا", "Streaming paused"},
    {"pause", "إيقاف البث مؤقتًا", "Pause streaming"},
    {"resume", "استئناف البث", "Resume streaming"},
    {"fps", "عدد الإطارات في الثانية (" LRM "fps" LRM ")", "Frames per second (fps)"},
    {"bitrate", "معدل البت (" LRM "kbps" LRM ")", "Bitrate (kbps)"},
    {"main_width", "عرض البث الرئيسي (" LRM "0" LRM " = كامل الشاشة)",
     "Main stream width (0 = full screen)"},
    {"substream", "البث الفرعي", "Sub stream"},
    {"sub_width", "عرض البث الفرعي", "Sub stream width"},
    {"stream", "اسم البث الرئيسي", "Main stream name"},
    {"device_name", "اسم الجهاز", "Device name"},
    {"show_cursor", "إظهار مؤشر الفأرة", "Show the mouse pointer"},
    {"warn_live", "شارة التنبيه أثناء البث", "Warning badge while streaming"},
    {"rtsp_port", "منفذ " LRM "RTSP" LRM, "RTSP port"},
    {"onvif_port", "منفذ " LRM "ONVIF" LRM, "ONVIF port"},
    {"web_port", "منفذ لوحة الويب", "Web panel port"},
    {"web_admin", "تفعيل لوحة الويب", "Web panel on"},
    {"announce_ip", "العنوان المعلن (فارغ = تلقائي)", "Announced address (empty = automatic)"},
    {"admin_user", "اسم المسؤول", "Administrator name"},
    {"admin_pass", "كلمة مرور جديدة (فارغ = بلا تغيير)", "New password (empty = unchanged)"},
    {"stream_auth", "طلب كلمة المرور للبث", "Password required for the streams"},
    {"apply_restart", "تطبيق وإعادة التشغيل", "Apply & restart"},
    {"saved_restart", "تم حفظ الإعدادات. تُعاد تشغيل الكاميرا خلال ثوانٍ لتصبح نافذة.",
     "Settings saved. The camera restarts within seconds so they take effect."},
    {"export", "تصدير الإعدادات", "Export settings"},
    {"import", "استيراد الإعدادات", "Import settings"},
    {"file_path", "مسار الملف", "File path"},
    {"exported", "تم تصدير الإعدادات", "Settings exported"},
    {"export_failed", "تعذّر تصدير الإعدادات", "Could not export the settings"},
    {"imported", "تم استيراد الإعدادات؛ اضغط تطبيق وإعادة التشغيل",
     "Settings imported; press Apply & restart"},
    {"import_failed", "لم يُستورد شيء من الملف", "Nothing was imported from the file"},
    {"firewall", "فحص الجدار الناري", "Firewall check"},
    {"firewall_none", "لا يوجد جدار ناري نشط يحجب المنافذ", "No active firewall blocks the ports"},
    {"firewall_blocks", "قد يحجب الجدار الناري المنفذ", "The firewall may block port"},
    {"firewall_open", "لفتحه نفّذ", "To open it run"},
    {"version", "الإصدار", "Version"},
    {"data_dir", "مجلد البيانات", "Data folder"},
    {"language", "اللغة", "Language"},
    {"lang_switch", LRM "English" LRM, "العربية"},
    {"remote_panel", "الكاميرا تعمل في جلسة أخرى على هذا الجهاز",
     "The camera runs in another session on this PC"},
    {"tray_open", "فتح لوحة التحكم", "Open the control panel"},
    {"tray_copy", "نسخ رابط " LRM "RTSP" LRM, "Copy the RTSP link"},
    {"tray_exit", "خروج", "Exit"},
    {"login_title", "تسجيل دخول المسؤول", "Administrator login"},
    {"login_prompt", "أدخل كلمة مرور المسؤول لفتح لوحة التحكم",
     "Enter the administrator password to open the control panel"},
    {"password", "كلمة المرور", "Password"},
    {"login", "دخول", "Log in"},
    {"cancel", "إلغاء", "Cancel"},
    {"login_wrong", "كلمة المرور غير صحيحة", "Wrong password"},
    {"welcome_title", "مرحبًا بك في كاميرا الشاشة", "Welcome to the screen camera"},
    {"welcome_body",
     "حاسوبك الآن كاميرا شبكة. أضفها إلى جهاز التسجيل بالعنوان أدناه أو شاهدها بأي مشغل " LRM
     "RTSP" LRM ".",
     "This PC is now a network camera. Add it to your recorder with the address below or "
     "watch it with any RTSP player."},
    {"welcome_ok", "ابدأ", "Start"},
    {"eula_title", "اتفاقية ترخيص المستخدم", "End-user licence agreement"},
    {"eula_body",
     "يبث هذا البرنامج صورة شاشتك وصوتها إلى الشبكة. استخدمه فقط على أجهزة تملك حق بثها، "
     "وأعلم من يستخدم الجهاز بأن شاشته قد تُشاهَد.",
     "This program streams your screen and its sound to the network. Use it only on PCs you "
     "are entitled to stream, and tell the people who use this PC that their screen may be "
     "watched."},
    {"eula_accept", "أوافق", "I accept"},
    {"eula_decline", "لا أوافق", "I decline"},
    {"restart_title", "تطبيق وإعادة التشغيل", "Apply and restart"},
    {"restart_remote",
     "تم حفظ الإعدادات. تُعاد تشغيل الكاميرا خلال ثوانٍ لتصبح نافذة.\n\nيمكنك إبقاء هذه "
     "اللوحة مفتوحة.",
     "Settings saved. The camera restarts within seconds so they take effect.\n\nYou can leave "
     "this panel open."},
};

#undef LRM

constexpr std::string_view k_lrm = "\u200E";

bool latin_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == ':' || c == '/' || c == '_' || c == '-';
}

bool latin_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

const std::vector<UiString>& ui_strings() {
    return k_table;
}

std::string ui_text(std::string_view id, bool arabic) {
    for (const UiString& s : k_table)
        if (s.id == id) return std::string(arabic ? s.ar : s.en);
    return std::string(id);
}

bool latin_fragments_marked(std::string_view t) {
    size_t i = 0;
    while (i < t.size()) {
        if (!latin_char(t[i])) {
            ++i;
            continue;
        }
        size_t j = i;
        bool letter = false;
        while (j < t.size() && latin_char(t[j])) letter |= latin_letter(t[j++]);
        if (letter) {
            const bool before =
                i >= k_lrm.size() && t.substr(i - k_lrm.size(), k_lrm.size()) == k_lrm;
            const bool after = t.substr(j, k_lrm.size()) == k_lrm;
            if (!before || !after) return false;
        }
        i = j;
    }
    return true;
}

std::vector<std::string> check_ui_strings(const std::vector<UiString>& table) {
    std::vector<std::string> problems;
    std::set<std::string_view> seen;
    for (const UiString& s : table) {
        const std::string id(s.id);
        if (!seen.insert(s.id).second) problems.push_back(id + ": duplicate id");
        if (s.ar.empty()) problems.push_back(id + ": Arabic text missing");
        if (s.en.empty()) problems.push_back(id + ": English text missing");
        if (!latin_fragments_marked(s.ar))
            problems.push_back(id +
                               ": Latin fragment in the Arabic text without left-to-right marks");
    }
    return problems;
}
