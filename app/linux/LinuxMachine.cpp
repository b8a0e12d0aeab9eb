#include "app/linux/LinuxMachine.h"

#include "identify/linux/IdentifyLinux.h"
#include "platform/linux/DriveList.h"

LinuxMachine::LinuxMachine(const std::vector<std::string>& givenPaths)
    : m_drives(DriveList(givenPaths)),
      m_log(m_files, kLogFile, /*held=*/true),
      m_io(m_drives),
      m_locator(m_drives),
      m_identify(MakeLinuxIdentifyPort(m_drives)) {}
