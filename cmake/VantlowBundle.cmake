# vantlow_add_bundle(): turns a MODULE library target into a plug-in bundle
# folder that the host can load:
#
#   <OUTPUT_DIR>/<Name>.plugin/Contents/Info.plist
#   <OUTPUT_DIR>/<Name>.plugin/Contents/Linux/<Name>.so
#   <OUTPUT_DIR>/<Name>.plugin/Contents/Resources/...   (copied from RESOURCES_DIR)
#
#   vantlow_add_bundle(<target> NAME <Name.plugin> INFO_PLIST <template>
#                      RESOURCES_DIR <dir> [OUTPUT_DIR <dir>] [WRAP_ALLOC] [INSTALL])
#
# INFO_PLIST is a template filled in with configure_file(@ONLY). Besides the
# caller's own variables it can use
#   @VANTLOW_BUNDLE_EXECUTABLE@            <Name>: the value of CFBundleExecutable
#   @VANTLOW_BUNDLE_IDENTIFIER@            the plug-in's identifier (frame/plugin_identity.h)
#   @VANTLOW_FACTORY_UUID@                 the plug-in's factory UUID (same header)
#   @VANTLOW_CONTEXTUAL_MENU_TYPE_UUID@    the contextual-menu plug-in type
# Every file below RESOURCES_DIR except the template itself is copied.
# OUTPUT_DIR defaults to ${VANTLOW_BUILD_PLUGIN_DIR}, the build tree's bundle
# folder that the host searches when it runs from the build tree.
#
# The module is built with hidden visibility, -Wl,--no-undefined and a
# version script, so it exports exactly one symbol: MyCMMFactory.
#
# WRAP_ALLOC (test builds only) links the module with --wrap for malloc,
# calloc, realloc and free against tests/support/bundle_alloc_wrap.cc, so
# that the platform's allocation fault injector reaches the plug-in's own
# allocations inside the loaded bundle. The module then has its own copy of
# the wrap functions and its own count of live blocks, which a test reads
# through one more exported function, VPBundleAllocWrapLiveBlocks (found with
# CFBundleGetFunctionPointerForName); nothing else is exported.
#
# INSTALL installs the bundle folder into <prefix>/lib/vantlow/plugins.

set(VANTLOW_BUILD_PLUGIN_DIR ${CMAKE_BINARY_DIR}/plugins)
set(VANTLOW_INSTALL_PLUGIN_DIR ${CMAKE_INSTALL_PREFIX}/lib/vantlow/plugins)
set(VANTLOW_CONTEXTUAL_MENU_TYPE_UUID "2F6522E9-3E66-11D5-80A7-003065B300BC")
set(VANTLOW_BUNDLE_ALLOC_WRAP_SOURCE ${CMAKE_CURRENT_LIST_DIR}/../tests/support/bundle_alloc_wrap.cc)

# The identity the code is compiled with, so the Info.plist says the same.
set(_vantlow_identity_header ${CMAKE_CURRENT_LIST_DIR}/../frame/plugin_identity.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_vantlow_identity_header})
foreach(_name IN ITEMS VANTLOW_BUNDLE_IDENTIFIER VANTLOW_FACTORY_UUID)
  file(STRINGS ${_vantlow_identity_header} _line REGEX "^#define ${_name} \"[^\"]+\"")
  if(NOT _line MATCHES "^#define ${_name} \"([^\"]+)\"")
    message(FATAL_ERROR "${_vantlow_identity_header}: no '#define ${_name} \"...\"' line")
  endif()
  set(${_name} "${CMAKE_MATCH_1}")
endforeach()

function(vantlow_add_bundle target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "WRAP_ALLOC;INSTALL" "NAME;INFO_PLIST;RESOURCES_DIR;OUTPUT_DIR" "")
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "vantlow_add_bundle(${target}): unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT TARGET ${target})
    message(FATAL_ERROR "vantlow_add_bundle: no target ${target}")
  endif()
  get_target_property(_type ${target} TYPE)
  if(NOT _type STREQUAL "MODULE_LIBRARY")
    message(FATAL_ERROR "vantlow_add_bundle(${target}): must be a MODULE library, not ${_type}")
  endif()
  if(NOT ARG_NAME MATCHES "^([^/]+)\\.plugin$")
    message(FATAL_ERROR "vantlow_add_bundle(${target}): NAME must be <Name>.plugin, not '${ARG_NAME}'")
  endif()
  set(VANTLOW_BUNDLE_EXECUTABLE "${CMAKE_MATCH_1}")
  foreach(_required IN ITEMS INFO_PLIST RESOURCES_DIR)
    if(NOT ARG_${_required})
      message(FATAL_ERROR "vantlow_add_bundle(${target}): ${_required} is required")
    endif()
  endforeach()
  get_filename_component(_plist ${ARG_INFO_PLIST} ABSOLUTE)
  get_filename_component(_resources ${ARG_RESOURCES_DIR} ABSOLUTE)
  if(NOT EXISTS ${_plist})
    message(FATAL_ERROR "vantlow_add_bundle(${target}): no Info.plist template ${_plist}")
  endif()
  if(NOT IS_DIRECTORY ${_resources})
    message(FATAL_ERROR "vantlow_add_bundle(${target}): no resources folder ${_resources}")
  endif()
  if(NOT ARG_OUTPUT_DIR)
    set(ARG_OUTPUT_DIR ${VANTLOW_BUILD_PLUGIN_DIR})
  endif()
  set(_bundle ${ARG_OUTPUT_DIR}/${ARG_NAME})
  set_property(TARGET ${target} PROPERTY VANTLOW_BUNDLE_DIR ${_bundle})

  # Contents/Info.plist, written when the build is configured.
  configure_file(${_plist} ${_bundle}/Contents/Info.plist @ONLY)

  # Contents/Linux/<Name>.so
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${VANTLOW_BUNDLE_EXECUTABLE}
    SUFFIX ".so"
    LIBRARY_OUTPUT_DIRECTORY ${_bundle}/Contents/Linux
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)

  # Exactly one exported symbol. The factory lives in a static library that
  # nothing inside the module calls, so it is asked for by name as well.
  set(_exports "MyCMMFactory;")
  if(ARG_WRAP_ALLOC)
    string(APPEND _exports " VPBundleAllocWrapLiveBlocks;")
  endif()
  set(_map ${CMAKE_CURRENT_BINARY_DIR}/${target}.exports.map)
  file(CONFIGURE OUTPUT ${_map} CONTENT "{ global: ${_exports} local: *; };\n" @ONLY)
  target_link_options(${target} PRIVATE
    -Wl,--no-undefined -Wl,--undefined=MyCMMFactory -Wl,--version-script=${_map})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${_map})

  if(ARG_WRAP_ALLOC)
    target_sources(${target} PRIVATE ${VANTLOW_BUNDLE_ALLOC_WRAP_SOURCE})
    target_link_options(${target} PRIVATE
      -Wl,--wrap=malloc -Wl,--wrap=calloc -Wl,--wrap=realloc -Wl,--wrap=free)
  endif()

  # Contents/Resources: one copy command per file, so that a changed
  # resource is copied again.
  file(GLOB_RECURSE _files LIST_DIRECTORIES false CONFIGURE_DEPENDS ${_resources}/*)
  set(_copies)
  foreach(_file IN LISTS _files)
    if(_file STREQUAL _plist)
      continue()
    endif()
    file(RELATIVE_PATH _relative ${_resources} ${_file})
    set(_out ${_bundle}/Contents/Resources/${_relative})
    add_custom_command(OUTPUT ${_out}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_file} ${_out}
      DEPENDS ${_file}
      COMMENT "Bundling ${ARG_NAME}/Contents/Resources/${_relative}"
      VERBATIM)
    list(APPEND _copies ${_out})
  endforeach()
  add_custom_target(${target}_resources DEPENDS ${_copies})
  add_dependencies(${target} ${target}_resources)

  if(ARG_INSTALL)
    install(DIRECTORY ${_bundle} DESTINATION lib/vantlow/plugins USE_SOURCE_PERMISSIONS)
  endif()
endfunction()
