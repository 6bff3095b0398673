# The schema's creation scripts and the installation, added to
# the library `db`. Included by this folder's CMakeLists.txt after `db` exists.
#
# The scripts live as plain SQL in sql/ (run them with isql-fb as they are);
# the build embeds them as C++ texts.
set(_vz_sql_dir ${CMAKE_CURRENT_LIST_DIR}/sql)
set(_vz_conteudo "// Generated from common/db/sql/*.sql by Esquema.cmake: edit those files.\n#pragma once\n#include <string_view>\n")
foreach(_vz_par IN ITEMS "veruzadu:Veruzadu" "grvpab:Grvpab" "listagrv:Listagrv")
  string(REPLACE ":" ";" _vz_par "${_vz_par}")
  list(GET _vz_par 0 _vz_arquivo)
  list(GET _vz_par 1 _vz_nome)
  file(READ ${_vz_sql_dir}/${_vz_arquivo}.sql _vz_sql)
  string(APPEND _vz_conteudo "inline constexpr std::string_view ScriptSql${_vz_nome} = R\"VZSQL(${_vz_sql})VZSQL\";\n")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_vz_sql_dir}/${_vz_arquivo}.sql)
endforeach()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/EsquemaScripts.inc.novo "${_vz_conteudo}")
configure_file(${CMAKE_CURRENT_BINARY_DIR}/EsquemaScripts.inc.novo
               ${CMAKE_CURRENT_BINARY_DIR}/generated/EsquemaScripts.inc COPYONLY)

target_sources(db PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Esquema.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Instalacao.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RegistroUsuario.cpp)
target_include_directories(db PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/generated)
