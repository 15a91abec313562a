#pragma once

namespace platform {

// Makes the programs' messages modal boxes with the program's title and one OK
// button, for as long as no other handler is installed.
void installer_boites_de_message();

} // namespace platform
