# What turns the built programs into things an administrator installs: the
# Windows resources of each .exe, the MSI (wixl), the man pages, the install
# rules and the Linux packages (CPack). Every text takes its version from
# project(), the packages' changelogs come from CHANGELOG.md. The capture
# tool, target model_capture, is packaged beside the model program whenever
# the project defines it.
#
# Targets: msi (Windows builds, when wixl is installed; part of the default
# build); the man pages are part of the default build on Linux. `cpack` in the
# build folder makes model_<version>_<arch>.deb and
# model-<version>-1.<arch>.rpm on Linux. The Windows zip is the install tree
# (`cmake --install`) packed by packaging/zip.py (scripts/package.sh).
#
# Release files are reproducible: what ends up in them depends on the sources
# and the tools, not on the folder, the time or the user of the build. The
# compilers are told to write no build path into a release program, the
# Windows linker no time stamp; the archives' times come from
# SOURCE_DATE_EPOCH, which scripts/package.sh sets to the commit's time.

set(MODEL_PRODUCT "Model")
set(MODEL_VENDOR "The model project")
set(MODEL_COPYRIGHT "Copyright (C) 2026 The model project authors. MIT License.")
set(MODEL_MAINTAINER "The model project <model@example.org>")
set(MODEL_SUMMARY "Records a computer's model and chosen WMI facts as plain text")
set(MODEL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

# The upgrade code never changes: it is how Windows Installer knows that two
# packages are versions of one product. Each version's product code is a
# name-based UUID under it (packaging/windows/msi.cmake).
set(MODEL_UPGRADE_CODE AA12D595-7CD4-49FD-AB40-7FDD9CC934FE)

# The MSI's path and how to build one, for the tests too (the Wine test
# builds a newer version, the reproducibility test builds it twice).
if(WIN32)
  find_program(WIXL_EXECUTABLE wixl)
  find_package(Python3 COMPONENTS Interpreter)
  set(MODEL_MSI_FILE ${CMAKE_BINARY_DIR}/${MODEL_PRODUCT}-${PROJECT_VERSION}-win64.msi)
  set(MODEL_MSI_SCRIPT ${MODEL_PACKAGING_DIR}/windows/msi.cmake)
  set(MODEL_MSI_TEST_ENV
      "MODEL_MSI=${MODEL_MSI_FILE}" "MODEL_WXS=${CMAKE_BINARY_DIR}/model.wxs"
      "MODEL_WIXL=${WIXL_EXECUTABLE}" "MODEL_PYTHON=${Python3_EXECUTABLE}"
      "MODEL_CMAKE=${CMAKE_COMMAND}" "MODEL_MSI_SCRIPT=${MODEL_MSI_SCRIPT}"
      "MODEL_UPGRADE_CODE=${MODEL_UPGRADE_CODE}")
endif()

# Paths of the build would otherwise reach a release program through
# __FILE__ (assertions, the standard library's own messages); they become
# relative to the source folder. Debug builds keep them: their tests find
# their fixtures through __FILE__. These variables are read once this folder
# is done, so they reach every target defined in it.
foreach(lang C CXX)
  string(APPEND CMAKE_${lang}_FLAGS_RELEASE
         " -ffile-prefix-map=${PROJECT_SOURCE_DIR}/="
         " -ffile-prefix-map=${CMAKE_BINARY_DIR}/=")
endforeach()
# The PE header's link time: none, so that the image is the same whenever it
# is linked (Windows does not use it for programs).
if(WIN32)
  string(APPEND CMAKE_EXE_LINKER_FLAGS_RELEASE " -Wl,--no-insert-timestamp")
endif()
# Folders that the install rules create are 0755 whatever the umask of the
# build, for the packages that are made from the install tree.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)

# The packaging tests (tests/package/) run over this build's programs. They
# need no GoogleTest, so a release build, which builds no other test, can
# register them.
option(MODEL_PACKAGE_TESTS "Register the tests of the release images, the Linux packages and the Ansible playbook" OFF)

# Adds a VERSIONINFO block and the application manifest to a Windows program.
# windres compiles them outside CMake's RC language support, which would hand
# it the C++ compiler's options (-Wall and the like), which it refuses; a
# custom target carries the rule so that the target may live in any folder.
#
#   model_windows_resources(<target> NAME <name> DESCRIPTION <text>)
#
# NAME is the program's name without ".exe", as Windows shows it.
function(model_windows_resources target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "NAME;DESCRIPTION" "")
  set(MODEL_RES_NAME ${arg_NAME})
  set(MODEL_RES_FILE ${arg_NAME}.exe)
  set(MODEL_RES_DESCRIPTION ${arg_DESCRIPTION})
  set(MODEL_RES_VERSION4 ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
  set(MODEL_RES_VERSION_COMMAS ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0)
  set(dir ${CMAKE_BINARY_DIR}/resources/${target})
  set(MODEL_RES_MANIFEST ${dir}/${arg_NAME}.manifest)
  configure_file(${MODEL_PACKAGING_DIR}/windows/program.manifest.in
                 ${MODEL_RES_MANIFEST} @ONLY)
  configure_file(${MODEL_PACKAGING_DIR}/windows/program.rc.in
                 ${dir}/${arg_NAME}.rc @ONLY)
  add_custom_command(
    OUTPUT ${dir}/${arg_NAME}.res.o
    COMMAND ${CMAKE_RC_COMPILER} --input-format=rc --output-format=coff
            --input=${dir}/${arg_NAME}.rc --output=${dir}/${arg_NAME}.res.o
    DEPENDS ${dir}/${arg_NAME}.rc ${MODEL_RES_MANIFEST}
    COMMENT "Windows resources of ${arg_NAME}.exe"
    VERBATIM)
  add_custom_target(${target}_resources DEPENDS ${dir}/${arg_NAME}.res.o)
  add_dependencies(${target} ${target}_resources)
  target_sources(${target} PRIVATE ${dir}/${arg_NAME}.res.o)
endfunction()

# The MSI: model.wxs from its template, with the capture tool's component
# when there is one; file(GENERATE) then fills in the programs' paths.
function(model_windows_installer)
  if(NOT WIXL_EXECUTABLE OR NOT Python3_FOUND)
    message(STATUS "wixl or Python 3 not found: no MSI (Debian packages wixl, python3)")
    return()
  endif()
  set(MODEL_MSI_CAPTURE_COMPONENT "")
  set(MODEL_MSI_CAPTURE_REF "")
  set(programs model)
  if(TARGET model_capture)
    list(APPEND programs model_capture)
    string(CONFIGURE [=[
          <Component Id="ModelCaptureExe" Guid="47284F2F-DE77-4F02-A44B-68720CC90E40"
                     Win64="yes">
            <File Id="ModelCaptureExe" Name="ModelCapture.exe"
                  Source="$<PATH:RELATIVE_PATH,$<TARGET_FILE:model_capture>,@CMAKE_BINARY_DIR@>" KeyPath="yes"/>
          </Component>]=] MODEL_MSI_CAPTURE_COMPONENT @ONLY)
    set(MODEL_MSI_CAPTURE_REF [=[      <ComponentRef Id="ModelCaptureExe"/>]=])
  endif()
  configure_file(${MODEL_PACKAGING_DIR}/windows/model.wxs.in
                 ${CMAKE_BINARY_DIR}/resources/model.wxs.in @ONLY)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/model.wxs
       INPUT ${CMAKE_BINARY_DIR}/resources/model.wxs.in)
  # Windows shows a .txt to whoever opens it.
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE
                 ${CMAKE_BINARY_DIR}/resources/LICENSE.txt COPYONLY)
  set(msi ${MODEL_MSI_FILE})
  set(script ${MODEL_MSI_SCRIPT})
  add_custom_command(
    OUTPUT ${msi}
    COMMAND ${CMAKE_COMMAND} -D WIXL=${WIXL_EXECUTABLE}
            -D PYTHON=${Python3_EXECUTABLE} -D WXS=${CMAKE_BINARY_DIR}/model.wxs
            -D OUTPUT=${msi} -D VERSION=${PROJECT_VERSION}
            -D UPGRADE_CODE=${MODEL_UPGRADE_CODE} -P ${script}
    DEPENDS ${CMAKE_BINARY_DIR}/model.wxs ${programs} ${script}
            ${MODEL_PACKAGING_DIR}/windows/msi_stamp.py
            ${CMAKE_BINARY_DIR}/resources/LICENSE.txt
    COMMENT "Windows Installer package ${MODEL_PRODUCT}-${PROJECT_VERSION}-win64.msi"
    VERBATIM)
  add_custom_target(msi ALL DEPENDS ${msi})
endfunction()

# The install tree of the zip, for those who copy the programs rather than
# install the MSI. packaging/zip.py packs it: CPack's zip would carry the
# builder's user id and the order in which the folder lists its files.
function(model_windows_zip)
  install(TARGETS model RUNTIME DESTINATION .)
  if(TARGET model_capture)
    install(TARGETS model_capture RUNTIME DESTINATION .)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md
                ${PROJECT_SOURCE_DIR}/CHANGELOG.md DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
endfunction()

# The man pages, gzipped as Debian wants them (-n: no name or time stamp).
function(model_man_page name)
  set(dir ${CMAKE_BINARY_DIR}/man)
  configure_file(${MODEL_PACKAGING_DIR}/man/${name}.1.in ${dir}/${name}.1 @ONLY)
  add_custom_command(
    OUTPUT ${dir}/${name}.1.gz
    COMMAND gzip -9nkf ${dir}/${name}.1
    DEPENDS ${dir}/${name}.1
    VERBATIM)
  add_custom_target(${name}_man ALL DEPENDS ${dir}/${name}.1.gz)
  install(FILES ${dir}/${name}.1.gz DESTINATION share/man/man1)
endfunction()

# The Debian and RPM packages, one install tree: the programs in /usr/bin,
# their man pages, the README, the copyright file and the changelog under
# /usr/share/doc/model.
function(model_linux_packages)
  install(TARGETS model RUNTIME DESTINATION bin)
  model_man_page(model)
  if(TARGET model_capture)
    install(TARGETS model_capture RUNTIME DESTINATION bin)
    model_man_page(model-capture)
  endif()

  set(doc share/doc/${PROJECT_NAME})
  # Both changelogs from CHANGELOG.md, dated by its releases.
  include(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/changelog.cmake)
  model_changelogs(${PROJECT_SOURCE_DIR}/CHANGELOG.md
                   DEBIAN ${CMAKE_BINARY_DIR}/debian/changelog
                   RPM ${CMAKE_BINARY_DIR}/rpm/changelog
                   MAINTAINER ${MODEL_MAINTAINER})
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
    COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/debian/changelog
    DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog
    VERBATIM)
  add_custom_target(debian_changelog ALL
                    DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/debian/changelog.gz
                ${MODEL_PACKAGING_DIR}/debian/copyright
                ${PROJECT_SOURCE_DIR}/README.md
          DESTINATION ${doc})
  install(FILES ${MODEL_PACKAGING_DIR}/debian/lintian-overrides
          DESTINATION share/lintian/overrides RENAME ${PROJECT_NAME})

  set(CPACK_GENERATOR DEB RPM)
  set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
  set(CPACK_PACKAGE_VENDOR ${MODEL_VENDOR})
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "record a computer's model and WMI facts as text")
  set(CPACK_PACKAGE_DESCRIPTION [=[
model reads facts about a computer through a WMI-shaped interface and writes
them as plain text: Model.txt (the computer's model and every property asked
for on the command line) and Model.log (diagnostics) in the directory named by
the Windir environment variable.

On Linux the facts come from /sys, /proc and /etc, or from a MOF file that
replays another machine, Windows machines included.]=])
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${MODEL_MAINTAINER})
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The programs are linked statically: they depend on no other package.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_STRIP_FILES ON)

  set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
  set(CPACK_RPM_PACKAGE_RELEASE 1)
  set(CPACK_RPM_PACKAGE_LICENSE MIT)
  set(CPACK_RPM_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
  set(CPACK_RPM_PACKAGE_AUTOREQ OFF)
  set(CPACK_RPM_CHANGELOG_FILE ${CMAKE_BINARY_DIR}/rpm/changelog)
  set(CPACK_PRE_BUILD_SCRIPTS ${MODEL_PACKAGING_DIR}/stamp_times.cmake)
  # Folders of other packages are not this one's to own.
  set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
      /usr/share/man /usr/share/man/man1 /usr/share/lintian
      /usr/share/lintian/overrides)
  # rpmbuild's clock and host name stay out of the package, and the build-id
  # links under /usr/lib/.build-id, which the .deb does not have either.
  set(CPACK_RPM_SPEC_MORE_DEFINE [=[
%define _buildhost reproducible
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1
%define _build_id_links none]=])
  set(CPACK_SOURCE_GENERATOR "")
  include(CPack)
endfunction()

# Runs once the whole project is read, so that it sees every program wherever
# it is defined.
function(model_packaging)
  if(NOT TARGET model)
    return()
  endif()
  if(WIN32)
    model_windows_resources(model NAME Model DESCRIPTION
      "Records the computer's model and chosen WMI facts in Model.txt")
    if(TARGET model_capture)
      model_windows_resources(model_capture NAME ModelCapture DESCRIPTION
        "Writes a computer's WMI classes and instances as a MOF file")
    endif()
    model_windows_installer()
    model_windows_zip()
  else()
    model_linux_packages()
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL model_packaging)

if(MODEL_PACKAGE_TESTS)
  enable_testing()
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/package
                   ${CMAKE_BINARY_DIR}/tests/package)
endif()
