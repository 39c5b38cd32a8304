// The Win32 control panel ("ZEBAdminWnd") and its login window: the panel
// calls, and the control ids for keyboard-free automation and tests.
#pragma once

#include "ui/panel.h"

// Control ids of the login window (class "ZEBLoginWnd") and of the control
// panel (class "ZEBAdminWnd"), for keyboard-free automation and tests.
namespace panel_ids {
constexpr int login_password = 1001;
constexpr int login_ok = 1002;
constexpr int login_cancel = 1003;
constexpr int login_error = 1004;

constexpr int tab_first = 2000;  // status, video, network, users, about
constexpr int lang = 2010;
constexpr int apply = 2011;
constexpr int error = 2012;
constexpr int pause = 2013;
// One per settings field, in this order: fps, bitrate, main_width,
// substream, sub_width, stream, show_cursor, rtsp_port, onvif_port,
// web_admin, web_port, announce_ip, device_name, admin_user, admin_pass,
// stream_auth.
constexpr int field_first = 2100;
constexpr int file_path = 2200;
constexpr int file_export = 2201;
constexpr int file_import = 2202;
constexpr int file_result = 2203;
}  // namespace panel_ids
