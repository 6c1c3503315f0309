// Control ids of the Record dialog, shared by the template and the code.
#pragma once

#define IDC_RECORD 1000
#define IDC_STOP 1001
#define IDC_CONTACT (-1)
