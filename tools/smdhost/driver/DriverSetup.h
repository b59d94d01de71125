#pragma once

#include <string>

#include "tools/nut/Account.h"
#include "tools/nut/DriverConfig.h"
#include "tools/nut/Mapping.h"
#include "tools/smdhost/BenchConfig.h"
#include "tools/smdhost/HostOptions.h"

// What the NUT driver of one UPS (smdhost -a NAME) runs, as NUT's drivers
// find it: the section of ups.conf with -x over it, the settings file it
// names, the module (module = PATH, else the installed one), the folders
// NUT's tools look in, and the users.
namespace driver_mode {

struct Setup {
    nut::DriverConfig driver;
    BenchConfig config;       // one device, its module and its state folder
    nut::Identity identity;   // what NUT shows whatever the blocks say
    nut::Account account;     // upsd's user and NUT's group
    std::string nut_folder;   // the socket's: NUT's state folder
    std::string pid_folder;   // where upsdrvctl looks for the pid file
    std::string user;         // whom to become after opening, started as root; "" stays
};

// NUT's state folder, where upsd looks for driver sockets: $NUT_STATEPATH,
// else /run/nut.
std::string NutStateFolder();

// Where upsdrvctl looks for a driver's pid file: $NUT_ALTPIDPATH, else NUT's
// state folder.
std::string PidFolder();

// Where the history and cache of UPS `ups` go when state_dir does not say.
std::string DefaultStateFolder(const std::string& ups);

// Everything -a NAME runs with. Throws std::runtime_error naming the file
// and line, or the -x argument, at fault, and the way out.
Setup ReadSetup(const HostOptions& options);

}  // namespace driver_mode
