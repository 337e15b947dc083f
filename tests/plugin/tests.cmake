# Every test program of this folder loads plugins: the fixtures and the demo plugin.
foreach(f ${files})
  get_filename_component(name ${f} NAME_WE)
  if(TARGET plugin_${name})
    kexo_use_fixtures(plugin_${name})
  endif()
endforeach()
