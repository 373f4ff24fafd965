# The install step's common part: the folders of the install tree and the data tree that the
# install-path table names, and the archiver as common\7za.exe, a link to the host's 7za.
# Each program's own CMakeLists installs the program under its Windows name.
set(TQ_INSTALL_TREE "Program Files (x86)/NORVANTE/TQ770")
set(TQ_DATA_TREE "ProgramData/NORVANTE/TQ770")

install(DIRECTORY DESTINATION "${TQ_INSTALL_TREE}/x86")
install(DIRECTORY DESTINATION "${TQ_INSTALL_TREE}/common/pattern")
install(DIRECTORY DESTINATION "${TQ_INSTALL_TREE}/common/error_table")
foreach(folder maintenance print printer sysinfo log DB)
  install(DIRECTORY DESTINATION "${TQ_DATA_TREE}/${folder}")
endforeach()

find_program(TQ_HOST_7ZA NAMES 7za PATHS /usr/bin NO_CACHE)
if(NOT TQ_HOST_7ZA)
  set(TQ_HOST_7ZA /usr/bin/7za)
endif()
# With the bridge built (Substitutes/archiver), 7za.exe is the bridge to the host's 7za,
# which cannot read the Windows paths of its command line by itself. A Windows build links
# to no host program: its archiver is a Windows program installed by its own target.
if(NOT TARGET archiver_bridge AND NOT WIN32)
install(CODE "
  set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${TQ_INSTALL_TREE}/common/7za.exe\")
  file(REMOVE \"\${link}\")
  file(CREATE_LINK \"${TQ_HOST_7ZA}\" \"\${link}\" SYMBOLIC)
  message(STATUS \"Linking: \${link} -> ${TQ_HOST_7ZA}\")
")
endif()
