// Files the panel serves as they are, compiled into the program from
// resources/: the licence-agreement page (/eula) and the login background
// picture (/login_bg.jpg). Empty when the build has none.
#pragma once

#include <string>

const std::string& eula_page();
const std::string& login_background();
