# The release: the project version (project(... VERSION)) in the version resource of
# ReaderSettings.dll and in `modhost --version`, and the install rules from which
# scripts/package makes build/dist/ReaderSettings-<version>-win32.zip and -win64.zip.
#
# Package layout (install prefix):
#   ReaderSettings.dll  ReaderSettings.dll.debug  README.txt  integration.md  CHANGELOG.md
#   testing/  modhost.exe ModuleLib.dll logQuery.dll try.cmd sample-script.txt
#   testing/host/  Host.ini Messages.txt UserConfig.ini      (the host profile)
#   testing/host/subapp-sim/   the simulated lurmScard.dll, its configuration and README, and
#                              its variants lurmScard_noerrortext.dll, lurmScard_listonly.dll
#                              and lurmScard_faulty.dll (README.md), to try each failure path
#   testing/host/subapp-pcsc/  the PC/SC lurmScard.dll
# Every part of the version resource comes from here; the test of the package reads the
# same variables back from the built file.

set(RS_VERSION_MAJOR ${PROJECT_VERSION_MAJOR})
set(RS_VERSION_MINOR ${PROJECT_VERSION_MINOR})
set(RS_VERSION_PATCH ${PROJECT_VERSION_PATCH})
set(RS_VERSION_TWEAK 0)
if(NOT "${PROJECT_VERSION_TWEAK}" STREQUAL "")
  set(RS_VERSION_TWEAK ${PROJECT_VERSION_TWEAK})
endif()
# Explorer shows the file version as four numbers and the product version as written.
set(RS_FILE_VERSION "${RS_VERSION_MAJOR}.${RS_VERSION_MINOR}.${RS_VERSION_PATCH}.${RS_VERSION_TWEAK}")
set(RS_PRODUCT_VERSION "${PROJECT_VERSION}")
set(RS_FILE_DESCRIPTION "读卡器设置模块")
set(RS_PRODUCT_NAME "ReaderSettings")
set(RS_INTERNAL_NAME "ReaderSettings")
set(RS_ORIGINAL_FILENAME "ReaderSettings.dll")
# Chinese (Simplified, PRC), strings in UTF-16.
set(RS_VERSION_LANGUAGE 0x0804)
set(RS_VERSION_CODEPAGE 1200)
set(RS_VERSION_BLOCK "080404B0")
# One package per architecture: -win32 (x86, for 32-bit hosts) and -win64 (x64).
# The package's README says which host takes it and how to run it under Wine.
if(RS_WIN_ARCH STREQUAL "x64")
  set(RS_PACKAGE_NAME "ReaderSettings-${PROJECT_VERSION}-win64")
  set(RS_PACKAGE_BITS 64)
  set(RS_PACKAGE_WINEARCH win64)
  set(RS_PACKAGE_WINE /usr/lib/wine/wine64)
  set(RS_PACKAGE_CALL "ShowFrmOption (the x64 calling convention, three pointer-sized arguments)")
else()
  set(RS_PACKAGE_NAME "ReaderSettings-${PROJECT_VERSION}-win32")
  set(RS_PACKAGE_BITS 32)
  set(RS_PACKAGE_WINEARCH win32)
  set(RS_PACKAGE_WINE wine)
  set(RS_PACKAGE_CALL "ShowFrmOption (stdcall, three 32-bit arguments)")
endif()
set(RS_RELEASE_DIR ${CMAKE_CURRENT_LIST_DIR})

if(WIN32)
  enable_language(RC)
  # windres takes only its own options: the project's C and C++ options mean nothing to it.
  set(CMAKE_RC_COMPILE_OBJECT
      "<CMAKE_RC_COMPILER> -O coff -c 65001 <DEFINES> <INCLUDES> <SOURCE> <OBJECT>")
  configure_file(${RS_RELEASE_DIR}/ReaderSettings.rc.in
                 ${PROJECT_BINARY_DIR}/ReaderSettings.rc @ONLY)
endif()

# Runs once every directory has defined its targets.
function(rs_release_rules)
  if(TARGET modhost)
    target_compile_definitions(modhost PRIVATE RS_VERSION="${PROJECT_VERSION}")
  endif()
  if(NOT WIN32 OR NOT TARGET ReaderSettings)
    return()
  endif()
  target_sources(ReaderSettings PRIVATE ${PROJECT_BINARY_DIR}/ReaderSettings.rc)

  set(pkg ${RS_RELEASE_DIR}/package)
  set(gen ${PROJECT_BINARY_DIR}/package)
  # Texts a Windows user opens with Notepad get CR LF.
  configure_file(${pkg}/README.txt.in ${gen}/README.txt @ONLY NEWLINE_STYLE CRLF)
  foreach(f Host.ini SysConfig.ini lurmScard.dll.sim.ini try.cmd sample-script.txt)
    configure_file(${pkg}/${f} ${gen}/${f} @ONLY NEWLINE_STYLE CRLF)
  endforeach()
  file(WRITE ${gen}/package-name.txt "${RS_PACKAGE_NAME}\n")

  install(FILES $<TARGET_FILE:ReaderSettings> ${gen}/README.txt ${PROJECT_SOURCE_DIR}/CHANGELOG.md
                ${PROJECT_SOURCE_DIR}/docs/integration.md
          DESTINATION .)
  install(FILES $<TARGET_FILE:modhost> $<TARGET_FILE:ModuleLib> $<TARGET_FILE:logQuery>
                ${gen}/try.cmd ${gen}/sample-script.txt
          DESTINATION testing)
  # For trying the package under Wine: the dialog's fonts drawn with every stroke.
  install(FILES ${pkg}/wine-fonts.reg DESTINATION testing)
  install(FILES ${gen}/Host.ini ${PROJECT_SOURCE_DIR}/standins/host/profile/Messages.txt
                ${PROJECT_SOURCE_DIR}/standins/host/profile/UserConfig.ini
          DESTINATION testing/host)
  install(FILES $<TARGET_FILE:lurmScard> ${gen}/SysConfig.ini ${gen}/lurmScard.dll.sim.ini
                ${PROJECT_SOURCE_DIR}/standins/reader/sim/README.md
                $<TARGET_FILE:lurmScard_noerrortext> $<TARGET_FILE:lurmScard_listonly>
                $<TARGET_FILE:lurmScard_faulty>
          DESTINATION testing/host/subapp-sim)
  install(FILES ${gen}/SysConfig.ini DESTINATION testing/host/subapp-pcsc)
  install(FILES $<TARGET_FILE:rs_reader_pcsc> DESTINATION testing/host/subapp-pcsc
          RENAME lurmScard.dll)

  # The module ships stripped, its debug information beside it in ReaderSettings.dll.debug
  # and found through the debug link (.gnu_debuglink: file name and CRC-32). The stand-ins
  # ship stripped, without their debug information.
  set(strip_code [[
    set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    set(dll "${root}/ReaderSettings.dll")
    execute_process(COMMAND "@OBJCOPY@" --only-keep-debug "${dll}" "${dll}.debug"
                    COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND "@OBJCOPY@" --strip-all "--add-gnu-debuglink=${dll}.debug" "${dll}"
                    COMMAND_ERROR_IS_FATAL ANY)
    foreach(f testing/modhost.exe testing/ModuleLib.dll testing/logQuery.dll
              testing/host/subapp-sim/lurmScard.dll testing/host/subapp-sim/lurmScard_noerrortext.dll
              testing/host/subapp-sim/lurmScard_listonly.dll
              testing/host/subapp-sim/lurmScard_faulty.dll testing/host/subapp-pcsc/lurmScard.dll)
      execute_process(COMMAND "@OBJCOPY@" --strip-all "${root}/${f}" COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  ]])
  string(REPLACE "@OBJCOPY@" "${CMAKE_OBJCOPY}" strip_code "${strip_code}")
  install(CODE "${strip_code}")
endfunction()
cmake_language(DEFER CALL rs_release_rules)
