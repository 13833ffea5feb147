# Builds the MSI from the staged files (cmake -P, from the msi target):
#   -DSTAGE=dir (launch.exe stripped, README.md, LICENSE.txt, RUNTIME-NOTICES.txt)
#   -DWXS=template -DMSI=output -DVERSION=x.y.z -DDESCRIPTION=text
#   -DEPOCH=SOURCE_DATE_EPOCH -DSOURCE_DIR=project sources -DARCH=x86|x64
#   -DMANUFACTURER=the contact's name (LAUNCH_CONTACT without the address)
# One set of files always gives the same installer: the product and package
# codes are derived from the version and the files' hashes (the upgrade code
# stays fixed), wixl runs at the build's own time (faketime: it reads no
# SOURCE_DATE_EPOCH) and so do the table patches. wixl 0.101 ignores
# AllowSameVersionUpgrades, File/@DefaultVersion and a fixed package code, and
# has no Environment element or registry search: msibuild patches the tables.
cmake_minimum_required(VERSION 3.25)
# The 64-bit installer is a product of its own (upgrade code, component): it
# installs into the 64-bit Program Files and keeps its registry value in the
# 64-bit view; the 32-bit one, under WOW64, in their 32-bit counterparts.
if(ARCH STREQUAL "x64")
  set(upgrade_code 2a09368a-7903-42d8-81f0-42327f095b51)
  set(LAUNCH_COMPONENT_GUID a7e716c1-60b6-4901-9b9c-a55d6c66c487)
  set(LAUNCH_PROGRAM_FILES ProgramFiles64Folder)
  set(LAUNCH_WIN64 yes)
  set(platform x64)
  set(raw_value_locator 18) # msidbLocatorTypeRawValue | msidbLocatorType64bit
else()
  set(ARCH x86)
  set(upgrade_code 6f1a3a52-3f0e-4c55-9a43-2d3f8e9c1b10)
  set(LAUNCH_COMPONENT_GUID 0c6d2c1e-8b3a-4b0e-9f0e-6a1b2c3d4e5f)
  set(LAUNCH_PROGRAM_FILES ProgramFilesFolder)
  set(LAUNCH_WIN64 no)
  set(platform Intel)
  set(raw_value_locator 2) # msidbLocatorTypeRawValue
endif()
set(ENV{SOURCE_DATE_EPOCH} ${EPOCH})
set(ENV{TZ} UTC)
string(TIMESTAMP stamp "%Y-%m-%d %H:%M:%S" UTC)
set(at_build_time faketime -f "@${stamp}")

# The codes: same version and same bytes give the same codes; a rebuild with a
# changed file is a new product that replaces the installed one.
set(files launch.exe README.md LICENSE.txt RUNTIME-NOTICES.txt)
set(contents "${VERSION}")
foreach(name IN LISTS files)
  file(SHA256 "${STAGE}/${name}" hash)
  string(APPEND contents ";${name}=${hash}")
endforeach()
string(UUID LAUNCH_PRODUCT_CODE NAMESPACE ${upgrade_code} NAME "product;${contents}"
       TYPE SHA1 UPPER)
string(UUID package_code NAMESPACE ${upgrade_code} NAME "package;${contents}" TYPE SHA1 UPPER)
set(LAUNCH_UPGRADE_CODE ${upgrade_code})
set(PROJECT_VERSION ${VERSION})
set(PROJECT_DESCRIPTION ${DESCRIPTION})
if(NOT MANUFACTURER)
  message(FATAL_ERROR "No manufacturer: -DMANUFACTURER=name")
endif()
string(REPLACE "&" "&amp;" LAUNCH_MANUFACTURER "${MANUFACTURER}") # an XML attribute
configure_file(${WXS} ${STAGE}/launch.wxs @ONLY)

# launch.exe's file version, read from its version resource (VS_FIXEDFILEINFO:
# the signature 0xFEEF04BD, the structure version, then the file version as
# two 32-bit words, most significant first; all little-endian).
file(READ "${STAGE}/launch.exe" exe HEX)
string(FIND "${exe}" "bd04effe00000100" at)
if(at EQUAL -1)
  message(FATAL_ERROR "launch.exe has no version resource")
endif()
math(EXPR at "${at} + 16")
string(SUBSTRING "${exe}" ${at} 16 words)
set(parts "")
foreach(offset 4 0 12 8) # high and low half of each little-endian word
  string(SUBSTRING "${words}" ${offset} 4 half)
  string(REGEX REPLACE "(..)(..)" "\\2\\1" half "${half}")
  math(EXPR part "0x${half}")
  list(APPEND parts ${part})
endforeach()
list(JOIN parts "." file_version)

execute_process(COMMAND find . -exec touch -h -d "@${EPOCH}" {} +
                WORKING_DIRECTORY ${STAGE} COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE ${MSI})
execute_process(COMMAND ${at_build_time} wixl --arch ${ARCH} -o ${MSI} launch.wxs
                WORKING_DIRECTORY ${STAGE} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${at_build_time} sh ${SOURCE_DIR}/packaging/add-path.sh ${MSI} Main
                        INSTALLDIR COMMAND_ERROR_IS_FATAL ANY)

set(tables ${STAGE}/tables)
file(REMOVE_RECURSE ${tables})
file(MAKE_DIRECTORY ${tables})
function(export_table name)
  execute_process(COMMAND msiinfo export ${MSI} ${name} OUTPUT_FILE ${tables}/${name}.idt
                  COMMAND_ERROR_IS_FATAL ANY)
endfunction()
function(import_table name)
  execute_process(COMMAND ${at_build_time} msibuild ${MSI} -i ${tables}/${name}.idt
                  COMMAND_ERROR_IS_FATAL ANY)
endfunction()

# The upgrade rule takes in the same version (msidbUpgradeAttributesVersionMaxInclusive).
export_table(Upgrade)
file(READ ${tables}/Upgrade.idt text)
string(REGEX REPLACE "\t\t${VERSION}\t\t1\t" "\t\t${VERSION}\t\t513\t" patched "${text}")
if(patched STREQUAL text)
  message(FATAL_ERROR "No upgrade row for versions up to ${VERSION} in:\n${text}")
endif()
file(WRITE ${tables}/Upgrade.idt "${patched}")
import_table(Upgrade)

# The file version of launch.exe, which Windows Installer compares on upgrade.
export_table(File)
file(READ ${tables}/File.idt text)
string(REGEX REPLACE "(\nLaunchExe\tMain\tlaunch.exe\t[0-9]+\t)\t" "\\1${file_version}\t" patched
       "${text}")
if(patched STREQUAL text)
  message(FATAL_ERROR "No launch.exe row in:\n${text}")
endif()
file(WRITE ${tables}/File.idt "${patched}")
import_table(File)

# The install folder is remembered (HKLM\Software\launch, InstallDir) and read
# back first thing (AppSearch), so that an upgrade or an uninstall acts on the
# folder the product is in, not on the default one. A folder given on the
# command line (INSTALLDIR=...) wins.
file(WRITE ${tables}/Registry.idt
  "Registry\tRoot\tKey\tName\tValue\tComponent_\ns72\ti2\tl255\tL255\tL0\ts72\nRegistry\tRegistry\n"
  "InstallDir\t2\tSoftware\\launch\tInstallDir\t[INSTALLDIR]\tMain\n")
file(WRITE ${tables}/RegLocator.idt
  "Signature_\tRoot\tKey\tName\tType\ns72\ti2\ts255\tS255\tI2\nRegLocator\tSignature_\n"
  "RememberedDir\t2\tSoftware\\launch\tInstallDir\t${raw_value_locator}\n")
file(WRITE ${tables}/AppSearch.idt
  "Property\tSignature_\ns72\ts72\nAppSearch\tProperty\tSignature_\n"
  "LAUNCHREMEMBEREDDIR\tRememberedDir\n")
file(WRITE ${tables}/CustomAction.idt
  "Action\tType\tSource\tTarget\tExtendedType\ns72\ti2\tS72\tS255\tI4\nCustomAction\tAction\n"
  "UseRememberedDir\t51\tINSTALLDIR\t[LAUNCHREMEMBEREDDIR]\t\n")
export_table(InstallExecuteSequence)
file(APPEND ${tables}/InstallExecuteSequence.idt
  "AppSearch\t\t50\nUseRememberedDir\tLAUNCHREMEMBEREDDIR AND NOT INSTALLDIR\t51\n"
  "RemoveRegistryValues\t\t2600\nWriteRegistryValues\t\t5000\n")
foreach(table Registry RegLocator AppSearch CustomAction InstallExecuteSequence)
  import_table(${table})
endforeach()

# The package code, in the summary information (its other fields as wixl wrote them).
execute_process(COMMAND ${at_build_time} msibuild ${MSI} -s "${DESCRIPTION}" "${MANUFACTURER}"
                        "${platform};1033" "{${package_code}}" COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE ${tables})

include(${CMAKE_CURRENT_LIST_DIR}/sums.cmake)
get_filename_component(folder ${MSI} DIRECTORY)
launch_update_sums(${folder} ${MSI})
