// The two passes over a drive: the summary reports structure and problems, the
// detail pass also dumps and decodes every sector it looks at.
#pragma once

enum class Pass { Summary, Detail };
