#include "web/web_pages.h"

const char* const k_support_url = "https://support.vistrel.example/help";

std::string support_link(const std::string& machine_id) {
    return std::string(k_support_url) + "?hwid=" + machine_id + "&src=app_qr_web#contact";
}

namespace {

const char* const k_login_head = R"HTML(<!DOCTYPE html>
<html lang="ar" dir="rtl"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width,initial-scale=1">
<title>Vistrel</title>
<style>
*{box-sizing:border-box}
body{margin:0;min-height:100vh;font-family:"Segoe UI","Noto Sans",Tahoma,sans-serif;color:#e8edf7;
background:#0c101c url(/login_bg.jpg) center/cover no-repeat;display:flex;align-items:center;justify-content:center}
.card{width:min(380px,92vw);background:rgba(16,22,38,.88);border:1px solid #2a3552;border-radius:14px;padding:26px 24px;box-shadow:0 10px 40px rgba(0,0,0,.45)}
h3{margin:0 0 16px;font-size:21px;text-align:center}
label{display:block;font-size:13px;margin:10px 0 4px;color:#aab6cf}
input{width:100%;padding:10px 11px;border-radius:8px;border:1px solid #34415f;background:#0f1526;color:#fff;font-size:15px}
button{cursor:pointer;border:0;border-radius:8px;padding:10px 14px;font-size:15px}
.main{width:100%;margin-top:16px;background:#3b82f6;color:#fff;font-weight:600}
.link{background:none;color:#8fb4ff;padding:6px 0;font-size:13px}
#err{display:none;margin-top:12px;color:#ffb4b4;background:#4a1520;border-radius:8px;padding:8px 10px;font-size:14px}
.hint{background:#14351f;color:#b8f5c8;border-radius:8px;padding:8px 10px;font-size:13px;margin-bottom:8px}
#rec{display:none;margin-top:10px;border-top:1px solid #2a3552;padding-top:10px;font-size:13px;color:#c7d2e8}
#rec code{display:block;direction:ltr;text-align:center;font-size:15px;margin:6px 0;color:#fff;word-break:break-all}
#rec pre{direction:ltr;background:#0f1526;border-radius:6px;padding:6px 8px;white-space:pre-wrap;word-break:break-all;margin:6px 0}
#rec img{display:block;width:132px;height:132px;margin:6px auto;background:#fff;border-radius:6px}
#rmsg{margin-top:8px;min-height:1em}
.top{display:flex;justify-content:flex-end}
.lang{background:#243049;color:#dfe7f7;font-size:13px;padding:5px 10px}
</style></head><body>
<div class="card">
<div class="top"><button class="lang" type="button" onclick="apply(L==='ar'?'en':'ar')" data-i18n="lang">English</button></div>
<h3 data-i18n="title">لوحة تحكّم الكاميرا</h3>
<form method="post" action="/login">
<label for="user" data-i18n="user">اسم المستخدم</label>
<input id="user" name="user" autocomplete="username" required>
<label for="pass" data-i18n="pass">كلمة المرور</label>
<input id="pass" name="pass" type="password" autocomplete="current-password" required>
<button class="main" type="submit" data-i18n="login">دخول</button>
</form>
<div id="err" data-i18n="err">اسم المستخدم أو كلمة المرور غير صحيحة، أو الدخول مقفل مؤقتًا</div>
<button class="link" type="button" onclick="var r=document.getElementById('rec');r.style.display=r.style.display==='block'?'none':'block'" data-i18n="forgot">نسيت كلمة المرور؟</button>
<div id="rec"><div data-i18n="rec1">لإعادة ضبط الدخول: على جهاز الكاميرا، بصلاحيات المدير (root)، شغّل الأمر التالي ثم أدخل الرمز الذي يطبعه هنا. الرمز صالح 24 ساعة ولمرة واحدة:</div>
<pre>zeb_onvif --recovery-code</pre>
<div data-i18n="rec2">معرّف الجهاز (للدعم الفني):</div>
<code>)HTML";

const char* const k_login_mid = R"HTML(</code>
<img src="/qr.svg" alt="QR">
<label for="rcode" data-i18n="rcode">رمز الاسترداد</label>
<input id="rcode" dir="ltr" autocomplete="off" placeholder="XXXX-XXXX-XXXX-XXXX">
<button class="main" type="button" onclick="recover()" data-i18n="rbtn">إعادة الضبط</button>
<div id="rmsg"></div></div>
</div>
<script>
var T={ar:{lang:"English",title:"لوحة تحكّم الكاميرا",user:"اسم المستخدم",pass:"كلمة المرور",login:"دخول",
err:"اسم المستخدم أو كلمة المرور غير صحيحة، أو الدخول مقفل مؤقتًا",forgot:"نسيت كلمة المرور؟",
rec1:"لإعادة ضبط الدخول: على جهاز الكاميرا، بصلاحيات المدير (root)، شغّل الأمر التالي ثم أدخل الرمز الذي يطبعه هنا. الرمز صالح 24 ساعة ولمرة واحدة:",
rec2:"معرّف الجهاز (للدعم الفني):",rcode:"رمز الاسترداد",rbtn:"إعادة الضبط",
r_ok:"تمت إعادة الضبط إلى admin / tolvu. جارٍ إعادة التشغيل…",r_bad:"رمز غير صالح",r_exp:"انتهت صلاحية الرمز",
r_used:"هذا الرمز استُخدم من قبل",r_lock:"محاولات كثيرة، انتظر دقيقة",r_net:"تعذّر الاتصال بالكاميرا",
hint:"أول دخول: المستخدم admin وكلمة المرور tolvu — غيّرها بعد الدخول"},
en:{lang:"العربية",title:"Camera control panel",user:"User name",pass:"Password",login:"Log in",
err:"Wrong user name or password, or login is locked for a moment",forgot:"Forgot the password?",
rec1:"To reset the login: on the camera PC, as root, run the command below and enter the code it prints here. The code works once, within 24 hours:",
rec2:"Device id (for support):",rcode:"Recovery code",rbtn:"Reset",
r_ok:"Reset to admin / tolvu. The camera is restarting…",r_bad:"Invalid code",r_exp:"The code has expired",
r_used:"This code was already used",r_lock:"Too many attempts, wait a minute",r_net:"Cannot reach the camera",
hint:"First login: user admin, password tolvu — change it once you are in"}};
var L=localStorage.getItem('zeb_lang')==='en'?'en':'ar';
function apply(l){L=l;try{localStorage.setItem('zeb_lang',l)}catch(e){}
document.documentElement.lang=l;document.documentElement.dir=l==='ar'?'rtl':'ltr';
document.querySelectorAll('[data-i18n]').forEach(function(e){var k=e.getAttribute('data-i18n');if(T[l][k])e.textContent=T[l][k]})}
function say(k){document.getElementById('rmsg').textContent=T[L][k]}
function recover(){var c=document.getElementById('rcode').value;
fetch('/recover',{method:'POST',headers:{'Content-Type':'application/x-www-form-urlencoded'},body:'code='+encodeURIComponent(c)})
.then(function(r){return r.json().then(function(j){return[r.status,j]})}).then(function(a){var j=a[1];
if(j.ok){say('r_ok');setTimeout(function(){location.href='/login'},5000)}
else if(a[0]===429)say('r_lock');else if(j.e==='expired')say('r_exp');else if(j.e==='used')say('r_used');else say('r_bad')})
.catch(function(){say('r_net')})}
if()HTML";

const char* const k_login_tail =
    ")document.getElementById('err').style.display='block';\napply(L);\n</script>\n</body></html>";

}  // namespace

std::string login_page(const LoginPageInput& in) {
    std::string page = k_login_head;
    page += in.machine_id;
    page += k_login_mid;
    page += in.error ? "1" : "0";
    page += k_login_tail;
    const std::string footer =
        "<div style=\"position:fixed;left:6px;bottom:4px;font-size:11px;color:#8a93a6;"
        "direction:ltr\">v" +
        in.version + "</div>\n";
    page.insert(page.rfind("</body>"), footer);
    if (in.show_hint) {
        const size_t h3 = page.find("</h3>");
        if (h3 != std::string::npos)
            page.insert(h3 + 5, "\n<div class=\"hint\" data-i18n=\"hint\">أول دخول: المستخدم admin "
                                "وكلمة المرور tolvu — غيّرها بعد الدخول</div>");
    }
    return page;
}
