# Fails if EXE imports a function that Windows 7 lacks among those the window uses for DPI and
# accessibility, or imports the accessibility DLLs at all (they are loaded from the system folder
# when a screen reader first asks).
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${EXE}")
endif()
foreach(name SetProcessDpiAwarenessContext GetDpiForWindow GetDpiForSystem AdjustWindowRectExForDpi
             SetProcessDpiAwareness GetDpiForMonitor LresultFromObject SysAllocString CoInitializeEx)
  if(dump MATCHES "[ \t]${name}\n")
    message(FATAL_ERROR "${EXE} imports ${name}")
  endif()
endforeach()
string(TOUPPER "${dump}" upper)
foreach(dll OLEACC.DLL OLEAUT32.DLL OLE32.DLL SHCORE.DLL)
  if(upper MATCHES "DLL NAME: ${dll}")
    message(FATAL_ERROR "${EXE} imports ${dll}")
  endif()
endforeach()
if(NOT dump MATCHES "SetProcessDPIAware")
  message(FATAL_ERROR "${EXE} does not declare itself DPI-aware where only Windows 7's call exists")
endif()
