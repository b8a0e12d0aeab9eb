#include "app/linux/LinuxMachine.h"

#include "app/linux/OutputDir.h"
#include "identify/linux/IdentifyLinux.h"
#include "platform/linux/DriveList.h"

LinuxMachine::LinuxMachine(const std::vector<std::string>& givenPaths, const std::string& outputDir,
                           uint32_t queueDepth)
    : m_drives(DriveList(givenPaths)),
      m_reportPath(InOutputDir(outputDir, kReportFile)),
      m_logPath(InOutputDir(outputDir, kLogFile)),
      m_log(m_files, m_logPath, /*held=*/true),
      m_io(m_drives),
      m_locator(m_drives),
      m_identify(MakeLinuxIdentifyPort(m_drives)) {
  m_io.SetQueueDepth(queueDepth);
}

std::string LinuxMachine::ReadAheadNews() {
  const std::string problem = m_io.ReadAheadProblem();
  if (problem.empty() || problem == m_readAheadSaid) return std::string();
  m_readAheadSaid = problem;
  return problem;
}
