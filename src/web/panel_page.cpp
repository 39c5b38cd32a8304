// The panel page: one fixed document; every value comes from /config.json and
// the other JSON routes through its script.
#include "web/web_pages.h"

namespace {

const char* const k_panel_style = R"HTML(<!DOCTYPE html>
<html lang="ar" dir="rtl"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width,initial-scale=1">
<title>Vistrel</title>
<style>
*{box-sizing:border-box}
html,body{margin:0;max-width:100%;overflow-x:hidden}
body{font-family:"Segoe UI","Noto Sans",Tahoma,sans-serif;background:#0e1320;color:#e6ebf5;font-size:15px}
header{background:#151c2e;border-bottom:1px solid #27324d;padding:10px 14px;display:flex;flex-wrap:wrap;gap:8px;align-items:center}
header b{font-size:17px;margin-inline-end:auto}
#addr{direction:ltr;color:#9fb3d9;font-size:13px;word-break:break-all}
button{cursor:pointer;border:0;border-radius:8px;padding:8px 13px;font-size:14px;background:#2a3856;color:#e6ebf5}
button.pri{background:#3b82f6;color:#fff;font-weight:600}
button.warn{background:#b4373f;color:#fff}
#pwarn{display:none;background:#4a3512;color:#ffe1a8;padding:8px 14px;white-space:pre-wrap;font-size:13px}
#pend{display:none;background:#3a2a0c;color:#ffd88a;padding:8px 14px;align-items:center;gap:10px;flex-wrap:wrap}
nav{display:flex;flex-wrap:wrap;gap:4px;padding:8px 10px;background:#121a2b;border-bottom:1px solid #222c44}
nav button{background:#1b253b;font-size:13px;padding:7px 10px}
nav button.on{background:#3b82f6;color:#fff}
main{padding:14px;max-width:900px;margin:0 auto}
section{display:none}
section.on{display:block}
h2{font-size:18px;margin:4px 0 12px}
.row{display:flex;flex-wrap:wrap;align-items:center;gap:6px 12px;padding:8px 0;border-bottom:1px solid #1d263b}
.row>label{flex:1 1 200px;color:#b3bfd8;font-size:14px}
.row>input,.row>select,.row>span.v{flex:1 1 220px;min-width:0;max-width:100%}
input,select{padding:8px 9px;border-radius:7px;border:1px solid #33405e;background:#0b1120;color:#fff;font-size:14px}
input[type=checkbox]{flex:0 0 auto;width:20px;height:20px}
.v{direction:ltr;word-break:break-all;color:#dfe8ff}
.acts{display:flex;flex-wrap:wrap;gap:8px;margin-top:14px}
#msg{margin-top:10px;min-height:1.2em;white-space:pre-wrap}
#msg.bad{color:#ff9d9d}#msg.good{color:#9df0b4}
#prev{display:block;width:100%;max-width:100%;height:auto;background:#000;border-radius:8px;min-height:60px}
#logt{background:#070b14;border-radius:8px;padding:10px;height:60vh;overflow:auto;direction:ltr;text-align:left;
white-space:pre-wrap;word-break:break-word;font:12px/1.45 monospace;margin:0}
.mo{display:grid;grid-template-columns:repeat(auto-fit,minmax(140px,1fr));gap:8px;margin-top:10px}
.mo div{background:#151d31;border-radius:8px;padding:8px}
.mo b{display:block;font-size:16px;direction:ltr}
.note{color:#98a4bd;font-size:13px}
a{color:#8fb4ff}
</style></head><body>
)HTML";

const char* const k_panel_body = R"HTML(<header><b data-i18n="title">لوحة تحكّم الكاميرا</b><span id="addr"></span>
<button id="langb" onclick="setLang(L==='ar'?'en':'ar')">English</button>
<button class="warn" onclick="logout()" data-i18n="logout">خروج</button></header>
<div id="pwarn"></div>
<div id="pend"><span data-i18n="pend">تغيير عن بُعد بانتظار التأكيد، وإلا سيُلغى تلقائيًا بعد</span> <b id="pendn">0</b> <span data-i18n="sec">ث</span>
<button class="pri" onclick="confirmPending()" data-i18n="confirm">تأكيد التغيير</button></div>
<nav id="nav">
<button data-s="system" data-i18n="n_system">النظام</button><button data-s="video" data-i18n="n_video">الفيديو</button>
<button data-s="events" data-i18n="n_events">الأحداث</button><button data-s="network" data-i18n="n_network">الشبكة</button>
<button data-s="live" data-i18n="n_live">البث المباشر</button><button data-s="users" data-i18n="n_users">المستخدمون</button>
<button data-s="about" data-i18n="n_about">حول</button><button data-s="factory" data-i18n="n_factory">ضبط المصنع</button>
<button data-s="log" data-i18n="n_log">السجل</button></nav>
<main>
<section id="s_system"><h2 data-i18n="n_system">النظام</h2>
<div class="row"><label for="device_name" data-i18n="device_name">اسم الجهاز</label><input id="device_name" maxlength="32"></div>
<div class="row"><label data-i18n="version">الإصدار</label><span class="v" id="version"></span></div>
<div class="row"><label data-i18n="ip">العنوان</label><span class="v" id="ip"></span></div>
</section>
<section id="s_video"><h2 data-i18n="n_video">الفيديو</h2>
<div class="row"><label for="stream" data-i18n="stream">اسم البث الرئيسي</label><input id="stream" maxlength="32" dir="ltr"></div>
<div class="row"><label for="main_width" data-i18n="main_width">عرض البث الرئيسي (0 = كامل الشاشة)</label><input id="main_width" type="number" min="320" max="7680" data-zero="1" data-even="1"></div>
<div class="row"><label data-i18n="resolution">الدقة</label><span class="v" id="resolution"></span></div>
<div class="row"><label for="fps" data-i18n="fps">معدل الإطارات</label><input id="fps" type="number" min="1" max="60"></div>
<div class="row"><label for="bitrate" data-i18n="bitrate">معدل البت (kbps)</label><input id="bitrate" type="number" min="256" max="16384"></div>
<div class="row"><label for="show_cursor" data-i18n="show_cursor">إظهار مؤشر الفأرة</label><input id="show_cursor" type="checkbox"></div>
<div class="row"><label for="substream" data-i18n="substream">البث الفرعي</label><input id="substream" type="checkbox"></div>
<div class="row"><label for="sub_stream" data-i18n="sub_stream">اسم البث الفرعي</label><input id="sub_stream" maxlength="32" dir="ltr"></div>
<div class="row"><label for="sub_width" data-i18n="sub_width">عرض البث الفرعي</label><input id="sub_width" type="number" min="160" max="1920" data-even="1"></div>
<div class="row"><label for="sub_bitrate" data-i18n="sub_bitrate">معدل بت البث الفرعي (kbps)</label><input id="sub_bitrate" type="number" min="64" max="2048"></div>
</section>
<section id="s_events"><h2 data-i18n="n_events">الأحداث</h2>
<div class="row"><label for="motion" data-i18n="motion">كشف الحركة</label><input id="motion" type="checkbox"></div>
<div class="row"><label for="motion_sens" data-i18n="motion_sens">الحساسية (1–10)</label><input id="motion_sens" type="number" min="1" max="10"></div>
<div class="row"><label for="motion_min" data-i18n="motion_min">أقل مدة (ms)</label><input id="motion_min" type="number" min="100" max="5000"></div>
<div class="row"><label for="motion_hold" data-i18n="motion_hold">مدة الإبقاء (ms)</label><input id="motion_hold" type="number" min="500" max="60000"></div>
<div class="row"><label for="motion_taskbar" data-i18n="motion_taskbar">تجاهل شريط المهام</label><input id="motion_taskbar" type="checkbox"></div>
<div class="row"><label for="motion_corners" data-i18n="motion_corners">استثناء الزوايا (%)</label><input id="motion_corners" type="number" min="0" max="30" data-zero="1"></div>
<div class="row"><label for="motion_top" data-i18n="motion_top">هامش علوي (%)</label><input id="motion_top" type="number" min="0" max="40" data-zero="1"></div>
<div class="row"><label for="motion_bottom" data-i18n="motion_bottom">هامش سفلي (%)</label><input id="motion_bottom" type="number" min="0" max="40" data-zero="1"></div>
<div class="mo"><div><span data-i18n="mo_state">الحالة</span><b id="mo_state">—</b></div>
<div><span data-i18n="mo_level">المستوى</span><b id="mo_level">—</b></div>
<div><span data-i18n="mo_events">الأحداث</span><b id="mo_events">—</b></div>
<div><span data-i18n="mo_subs">المشتركون</span><b id="mo_subs">—</b></div>
<div><span data-i18n="mo_capture">الالتقاط</span><b id="mo_capture">—</b></div></div>
<div class="acts"><button onclick="motionTest()" data-i18n="mtest">إرسال حدث تجريبي</button><span id="mtres"></span></div>
</section>
<section id="s_network"><h2 data-i18n="n_network">الشبكة</h2>
<div class="row"><label for="announce_ip" data-i18n="announce_ip">العنوان المُعلَن</label><select id="announce_ip" dir="ltr"></select></div>
<div class="row"><label for="rtsp_port" data-i18n="rtsp_port">منفذ RTSP</label><input id="rtsp_port" type="number" min="1" max="65535"></div>
<div class="row"><label for="onvif_port" data-i18n="onvif_port">منفذ ONVIF</label><input id="onvif_port" type="number" min="1" max="65535"></div>
<div class="row"><label for="web_port" data-i18n="web_port">منفذ لوحة التحكّم</label><input id="web_port" type="number" min="1" max="65535"></div>
<div class="row"><label for="web_admin" data-i18n="web_admin">تفعيل لوحة التحكّم عبر الويب</label><input id="web_admin" type="checkbox"></div>
<div class="row"><label for="stream_auth" data-i18n="stream_auth">حماية البث بكلمة مرور</label><input id="stream_auth" type="checkbox"></div>
<div class="row"><label for="discovery" data-i18n="discovery">الاكتشاف التلقائي (WS-Discovery)</label><input id="discovery" type="checkbox"></div>
</section>
<section id="s_live"><h2 data-i18n="n_live">البث المباشر</h2>
<img id="prev" alt="">
<div class="row"><label data-i18n="rtsp_main">رابط البث الرئيسي</label><span class="v" id="rtsp_main"></span></div>
<div class="row"><label data-i18n="rtsp_sub">رابط البث الفرعي</label><span class="v" id="rtsp_sub"></span></div>
<div class="row"><label data-i18n="uptime">مدة التشغيل</label><span class="v" id="uptime"></span></div>
<div class="acts"><button id="pauseb" onclick="togglePause()" data-i18n="pause">إيقاف البث مؤقتًا</button></div>
</section>
<section id="s_users"><h2 data-i18n="n_users">المستخدمون</h2>
<div class="row"><label for="admin_user" data-i18n="admin_user">اسم المدير</label><input id="admin_user" maxlength="32" dir="ltr" autocomplete="username"></div>
<div class="row"><label for="pw1" data-i18n="pw1">كلمة مرور جديدة</label><input id="pw1" type="password" maxlength="64" autocomplete="new-password"></div>
<div class="row"><label for="pw2" data-i18n="pw2">أعد كتابة كلمة المرور</label><input id="pw2" type="password" maxlength="64" autocomplete="new-password"></div>
<p class="note" data-i18n="pwnote">اترك الحقلين فارغين لإبقاء كلمة المرور الحالية.</p>
</section>
<section id="s_about"><h2 data-i18n="n_about">حول</h2>
<p><span data-i18n="about1">Vistrel — كاميرا IP من شاشة الحاسوب</span> <span class="v" id="version2"></span></p>
<p><a href="/eula" target="_blank" data-i18n="eula">اتفاقية الترخيص</a></p>
</section>
<section id="s_factory"><h2 data-i18n="n_factory">ضبط المصنع</h2>
<p class="note" data-i18n="fnote">يعيد كل الإعدادات إلى قيم المصنع ثم يعيد تشغيل الكاميرا على المنفذ 13030. أدخل بيانات الدخول الحالية للتأكيد.</p>
<div class="row"><label for="f_user" data-i18n="user">اسم المستخدم</label><input id="f_user" dir="ltr" autocomplete="off"></div>
<div class="row"><label for="f_pass" data-i18n="pass">كلمة المرور</label><input id="f_pass" type="password" autocomplete="off"></div>
<div class="acts"><button class="warn" onclick="factory()" data-i18n="fbtn">استعادة ضبط المصنع</button></div>
</section>
<section id="s_log"><h2 data-i18n="n_log">السجل</h2><pre id="logt"></pre></section>
<div class="acts" id="saveacts"><button onclick="save(false)" data-i18n="save">حفظ</button>
<button class="pri" onclick="save(true)" data-i18n="apply">تطبيق وإعادة التشغيل</button></div>
<div id="msg"></div>
</main>
)HTML";

const char* const k_panel_strings = R"HTML(<script>
var T={ar:{lang:"English",title:"لوحة تحكّم الكاميرا",logout:"خروج",pend:"تغيير عن بُعد بانتظار التأكيد، وإلا سيُلغى تلقائيًا بعد",sec:"ث",confirm:"تأكيد التغيير",
n_system:"النظام",n_video:"الفيديو",n_events:"الأحداث",n_network:"الشبكة",n_live:"البث المباشر",n_users:"المستخدمون",n_about:"حول",n_factory:"ضبط المصنع",n_log:"السجل",
device_name:"اسم الجهاز",version:"الإصدار",ip:"العنوان",stream:"اسم البث الرئيسي",main_width:"عرض البث الرئيسي (0 = كامل الشاشة)",resolution:"الدقة",fps:"معدل الإطارات",
bitrate:"معدل البت (kbps)",show_cursor:"إظهار مؤشر الفأرة",substream:"البث الفرعي",sub_stream:"اسم البث الفرعي",sub_width:"عرض البث الفرعي",sub_bitrate:"معدل بت البث الفرعي (kbps)",
motion:"كشف الحركة",motion_sens:"الحساسية (1–10)",motion_min:"أقل مدة (ms)",motion_hold:"مدة الإبقاء (ms)",motion_taskbar:"تجاهل شريط المهام",motion_corners:"استثناء الزوايا (%)",
motion_top:"هامش علوي (%)",motion_bottom:"هامش سفلي (%)",mo_state:"الحالة",mo_level:"المستوى",mo_events:"الأحداث",mo_subs:"المشتركون",mo_capture:"الالتقاط",
mtest:"إرسال حدث تجريبي",m_sent:"أُرسل",m_off:"كشف الحركة متوقف",st_off:"متوقف",st_idle:"هادئ",st_active:"حركة",st_testing:"اختبار",cap_on:"يعمل",cap_off:"لا يوجد مشاهد",
announce_ip:"العنوان المُعلَن",auto:"تلقائي",rtsp_port:"منفذ RTSP",onvif_port:"منفذ ONVIF",web_port:"منفذ لوحة التحكّم",web_admin:"تفعيل لوحة التحكّم عبر الويب",
stream_auth:"حماية البث بكلمة مرور",discovery:"الاكتشاف التلقائي (WS-Discovery)",rtsp_main:"رابط البث الرئيسي",rtsp_sub:"رابط البث الفرعي",uptime:"مدة التشغيل",
pause:"إيقاف البث مؤقتًا",resume:"استئناف البث",admin_user:"اسم المدير",pw1:"كلمة مرور جديدة",pw2:"أعد كتابة كلمة المرور",pwnote:"اترك الحقلين فارغين لإبقاء كلمة المرور الحالية.",
about1:"Vistrel — كاميرا IP من شاشة الحاسوب",eula:"اتفاقية الترخيص",fnote:"يعيد كل الإعدادات إلى قيم المصنع ثم يعيد تشغيل الكاميرا على المنفذ 13030. أدخل بيانات الدخول الحالية للتأكيد.",
user:"اسم المستخدم",pass:"كلمة المرور",fbtn:"استعادة ضبط المصنع",save:"حفظ",apply:"تطبيق وإعادة التشغيل",
e_range:"قيمة خارج الحدود في: ",e_even:" (رقم زوجي)",e_ports:"لازم كل خدمة على منفذ مختلف",e_name:"اسم الجهاز من 1 إلى 32 حرفًا وبدون < > & \" '",
e_pw:"كلمتا المرور غير متطابقتين",q_fps:"أكثر من 30 إطارًا في الثانية يحمّل الجهاز كثيرًا. متابعة؟",
q_revert:"أنت تغيّر منفذًا أو الدخول من جهاز آخر. إن لم تؤكّد التغيير من اللوحة الجديدة خلال 90 ثانية سيعود الإعداد السابق تلقائيًا. متابعة؟",
saved:"تم الحفظ. تُطبَّق التغييرات بعد إعادة التشغيل.",restarting:"جارٍ إعادة التشغيل…",q_factory:"سيتم مسح كل الإعدادات. متأكد؟",
f_bad:"اسم المستخدم أو كلمة المرور غير صحيحة",f_lock:"محاولات كثيرة، انتظر دقيقة",net:"تعذّر الاتصال بالكاميرا",err:"خطأ: ",days:"ي"},
en:{lang:"العربية",title:"Camera control panel",logout:"Log out",pend:"A remote change waits for confirmation; it is undone automatically in",sec:"s",confirm:"Confirm change",
n_system:"System",n_video:"Video",n_events:"Events",n_network:"Network",n_live:"Live",n_users:"Users",n_about:"About",n_factory:"Factory settings",n_log:"Log",
device_name:"Device name",version:"Version",ip:"Address",stream:"Main stream name",main_width:"Main stream width (0 = full screen)",resolution:"Resolution",fps:"Frame rate",
bitrate:"Bit rate (kbps)",show_cursor:"Show mouse pointer",substream:"Sub stream",sub_stream:"Sub stream name",sub_width:"Sub stream width",sub_bitrate:"Sub stream bit rate (kbps)",
motion:"Motion detection",motion_sens:"Sensitivity (1–10)",motion_min:"Minimum duration (ms)",motion_hold:"Hold time (ms)",motion_taskbar:"Ignore the taskbar",motion_corners:"Exclude corners (%)",
motion_top:"Top margin (%)",motion_bottom:"Bottom margin (%)",mo_state:"State",mo_level:"Level",mo_events:"Events",mo_subs:"Subscribers",mo_capture:"Capture",
mtest:"Send a test event",m_sent:"sent",m_off:"motion detection is off",st_off:"off",st_idle:"idle",st_active:"motion",st_testing:"testing",cap_on:"running",cap_off:"no viewer",
announce_ip:"Announced address",auto:"automatic",rtsp_port:"RTSP port",onvif_port:"ONVIF port",web_port:"Web panel port",web_admin:"Web panel enabled",
stream_auth:"Password-protect the stream",discovery:"Auto-discovery (WS-Discovery)",rtsp_main:"Main stream link",rtsp_sub:"Sub stream link",uptime:"Uptime",
pause:"Pause stream",resume:"Resume stream",admin_user:"Administrator name",pw1:"New password",pw2:"Repeat the password",pwnote:"Leave both empty to keep the current password.",
about1:"Vistrel — the PC screen as an IP camera",eula:"Licence agreement",fnote:"Puts every setting back to the factory values and restarts the camera on port 13030. Enter the current login to confirm.",
user:"User name",pass:"Password",fbtn:"Restore factory settings",save:"Save",apply:"Apply & restart",
e_range:"Value out of range in: ",e_even:" (even number)",e_ports:"Each service needs a different port",e_name:"Device name must be 1 to 32 characters, without < > & \" '",
e_pw:"The two passwords differ",q_fps:"More than 30 frames per second loads the PC heavily. Continue?",
q_revert:"You are changing a port or the login from another machine. Unless you confirm the change from the new panel within 90 seconds, the previous setting comes back automatically. Continue?",
saved:"Saved. The changes take effect after a restart.",restarting:"Restarting…",q_factory:"Every setting will be erased. Are you sure?",
f_bad:"Wrong user name or password",f_lock:"Too many attempts, wait a minute",net:"Cannot reach the camera",err:"Error: ",days:"d"}};
)HTML";

const char* const k_panel_script = R"HTML(var L=localStorage.getItem('zeb_lang')==='en'?'en':'ar',C={},cur='',lastAct=Date.now(),lastPing=Date.now(),
prevTimer=0,moTimer=0,logTimer=0,pendTimer=0,paused=0;
var NUMS=['rtsp_port','onvif_port','web_port','main_width','fps','bitrate','sub_width','sub_bitrate','motion_sens','motion_min','motion_hold','motion_top','motion_bottom','motion_corners'];
var FLAGS=['web_admin','substream','stream_auth','discovery','show_cursor','motion','motion_taskbar'];
var TEXTS=['stream','sub_stream','admin_user','device_name'];
function $(i){return document.getElementById(i)}
function t(k){return T[L][k]||k}
function setLang(l){L=l;try{localStorage.setItem('zeb_lang',l)}catch(e){}
document.documentElement.lang=l;document.documentElement.dir=l==='ar'?'rtl':'ltr';
document.querySelectorAll('[data-i18n]').forEach(function(e){var k=e.getAttribute('data-i18n');if(T[l][k])e.textContent=T[l][k]});
$('langb').textContent=t('lang');$('pauseb').textContent=t(paused?'resume':'pause');
var a=$('announce_ip');if(a.options.length)a.options[0].textContent=t('auto');
showWarn();renderMotion()}
function toLogin(){location.href='/login'}
function req(method,path,body){var o={method:method,credentials:'same-origin',cache:'no-store'};
if(body!==undefined){o.body=body;o.headers={'Content-Type':'application/x-www-form-urlencoded'}}
return fetch(path,o).then(function(r){if(r.status===401&&path!=='/restore'){toLogin();throw new Error('401')}return r})}
function json(method,path,body){return req(method,path,body).then(function(r){return r.json().then(function(j){j._status=r.status;return j})})}
function msg(text,good){var m=$('msg');m.textContent=text;m.className=good?'good':'bad'}
function show(s){cur=s;document.querySelectorAll('section').forEach(function(e){e.classList.toggle('on',e.id==='s_'+s)});
document.querySelectorAll('#nav button').forEach(function(b){b.classList.toggle('on',b.getAttribute('data-s')===s)});
$('saveacts').style.display=['system','video','events','network','users'].indexOf(s)>=0?'flex':'none';
clearInterval(moTimer);clearInterval(logTimer);moTimer=logTimer=0;
if(s==='events'){loadConfig(true);moTimer=setInterval(function(){loadConfig(true)},2000)}
if(s==='log'){loadLog();logTimer=setInterval(loadLog,3000)}
preview()}
function fill(j){C=j;$('addr').textContent=j.ip||'';$('version').textContent=j.version||'';$('version2').textContent=j.version||'';
$('ip').textContent=j.ip||'';$('resolution').textContent=j.resolution||'';$('rtsp_main').textContent=j.rtsp_main||'';
$('rtsp_sub').textContent=j.rtsp_sub||'';NUMS.forEach(function(k){if(k in j)$(k).value=j[k]});
FLAGS.forEach(function(k){if(k in j)$(k).checked=(j[k]==1)});TEXTS.forEach(function(k){if(k in j)$(k).value=j[k]});
var a=$('announce_ip');a.innerHTML='';var o=document.createElement('option');o.value='';o.textContent=t('auto');a.appendChild(o);
var found=!j.announce_ip;(j.ips||[]).forEach(function(e){var p=document.createElement('option');p.value=e.a;
p.textContent=e.a+' ('+e.l+')'+(e.x==1?' *':'');if(e.a===j.announce_ip)found=true;a.appendChild(p)});
if(!found){var q=document.createElement('option');q.value=q.textContent=j.announce_ip;a.appendChild(q)}
a.value=j.announce_ip||'';paused=j.paused==1;$('pauseb').textContent=t(paused?'resume':'pause');upd(j);showWarn();renderMotion()}
function upd(j){var s=j.uptime|0,d=Math.floor(s/86400),h=Math.floor(s%86400/3600),m=Math.floor(s%3600/60);
$('uptime').textContent=(d?d+t('days')+' ':'')+h+':'+('0'+m).slice(-2)+':'+('0'+s%60).slice(-2)}
function showWarn(){var w=C[L==='ar'?'port_warn_ar':'port_warn_en'];$('pwarn').textContent=w||'';$('pwarn').style.display=w?'block':'none'}
function renderMotion(){if(!('mo_enabled' in C))return;var st=C.mo_enabled!=1?'st_off':C.mo_testing==1?'st_testing':C.mo_active==1?'st_active':'st_idle';
$('mo_state').textContent=t(st);$('mo_level').textContent=C.mo_capturing==1?C.mo_level+' / '+C.mo_thr:'—';
$('mo_events').textContent=C.mo_events;$('mo_subs').textContent=C.mo_subs+' + '+C.mo_push_subs;
$('mo_capture').textContent=t(C.mo_capturing==1?'cap_on':'cap_off')}
function loadConfig(motionOnly){return json('GET','/config.json').then(function(j){if(j._status!==200)return;
if(motionOnly){for(var k in j)if(k.indexOf('mo_')===0)C[k]=j[k];upd(j);renderMotion()}else fill(j)}).catch(function(){})}
function loadLog(){req('GET','/log').then(function(r){return r.text()}).then(function(x){var p=$('logt');p.textContent=x;p.scrollTop=p.scrollHeight}).catch(function(){})}
function preview(){clearTimeout(prevTimer);prevTimer=0;if(document.hidden||cur!=='live')return;
$('prev').src='/snapshot.jpg?t='+Date.now();prevTimer=setTimeout(preview,1200)}
function ping(){lastPing=Date.now();return req('POST','/ping').catch(function(){})}
function logout(){req('POST','/logout').catch(function(){}).then(toLogin,toLogin)}
function activity(){lastAct=Date.now()}
function range(e){var k=e.id,v=e.value.trim(),mn=+e.min,mx=+e.max;if(!/^\d+$/.test(v))return k;var n=+v;
if(n===0&&e.getAttribute('data-zero'))return '';if(n<mn||n>mx)return k+' ('+mn+'–'+mx+')';
if(e.getAttribute('data-even')&&n%2)return k+t('e_even');return ''}
function collect(){for(var i=0;i<NUMS.length;i++){var bad=range($(NUMS[i]));if(bad)return{err:t('e_range')+bad}}
var p=[$('rtsp_port').value.trim(),$('onvif_port').value.trim(),$('web_port').value.trim()];
if(+p[0]===+p[1]||+p[0]===+p[2]||+p[1]===+p[2])return{err:t('e_ports')};
var dn=$('device_name').value;if(dn.length<1||dn.length>32||/[<>&"']/.test(dn))return{err:t('e_name')};
var pw=$('pw1').value;if(pw!==$('pw2').value)return{err:t('e_pw')};
var f={};NUMS.forEach(function(k){f[k]=$(k).value.trim()});FLAGS.forEach(function(k){f[k]=$(k).checked?'1':'0'});
TEXTS.forEach(function(k){f[k]=$(k).value});f.announce_ip=$('announce_ip').value;if(pw)f.admin_pass=pw;return{form:f}}
function enc(f){return Object.keys(f).map(function(k){return encodeURIComponent(k)+'='+encodeURIComponent(f[k])}).join('&')}
function local(){return['127.0.0.1','localhost','::1','[::1]'].indexOf(location.hostname)>=0}
function save(restart){var c=collect();if(c.err){msg(c.err);return}var f=c.form;
if(+f.fps>30&&!confirm(t('q_fps')))return;
if(restart&&!local()&&['rtsp_port','onvif_port','web_port','web_admin','stream_auth'].some(function(k){return String(f[k])!==String(C[k])})&&!confirm(t('q_revert')))return;
json('POST','/save',enc(f)).then(function(j){if(!j.ok){msg(t('err')+(j.error||j._status));return}
$('pw1').value=$('pw2').value='';if(j.pending)showPending(j.holdSeconds);msg(t('saved'),true);
if(restart){msg(t('restarting'),true);req('POST','/restart').catch(function(){}).then(function(){
setTimeout(function(){location.href=location.protocol+'//'+location.hostname+':'+f.web_port+'/'},4000)})}})
.catch(function(e){if(e.message!=='401')msg(t('net'))})}
function showPending(n){clearInterval(pendTimer);var left=n|0;$('pendn').textContent=left;$('pend').style.display='flex';
pendTimer=setInterval(function(){left--;$('pendn').textContent=Math.max(left,0);if(left<=0){clearInterval(pendTimer);location.reload()}},1000)}
function confirmPending(){json('POST','/confirm').then(function(){clearInterval(pendTimer);$('pend').style.display='none'}).catch(function(){})}
function togglePause(){json('POST','/stream','on='+(paused?1:0)).then(function(j){if('paused' in j){paused=!!j.paused;$('pauseb').textContent=t(paused?'resume':'pause')}}).catch(function(){})}
function motionTest(){json('POST','/motion_test').then(function(j){$('mtres').textContent=t(j.ok?'m_sent':'m_off')}).catch(function(){})}
function factory(){if(!confirm(t('q_factory')))return;
req('POST','/restore',enc({user:$('f_user').value,pass:$('f_pass').value})).then(function(r){
if(r.status===401){msg(t('f_bad'));return}if(r.status===429){msg(t('f_lock'));return}msg(t('restarting'),true);
setTimeout(function(){location.href=location.protocol+'//'+location.hostname+':13030/'},4500)}).catch(function(){msg(t('net'))})}
$('prev').onerror=function(){req('POST','/ping').catch(function(){})};
document.querySelectorAll('#nav button').forEach(function(b){b.onclick=function(){show(b.getAttribute('data-s'))}});
['mousemove','keydown','click','touchstart','scroll'].forEach(function(e){addEventListener(e,activity,{passive:true,capture:true})});
document.addEventListener('visibilitychange',preview);
setInterval(function(){var n=Date.now();if(n-lastAct>300000){logout();return}if(n-lastPing>60000)ping()},15000);
setLang(L);show('system');loadConfig(false);
json('GET','/pending.json').then(function(j){if(j.pending)showPending(j.secondsLeft)}).catch(function(){});
</script>
</body></html>
)HTML";

}  // namespace

const std::string& panel_page() {
    static const std::string page = std::string(k_panel_style) + k_panel_body + k_panel_strings +
                                    k_panel_script;
    return page;
}
