// The base library's maths and every physics header in one translation
// unit: the engine layer joins bodies to frames and needs both.
#include "common/maths.h"
#include "physics/base/base_system.h"
#include "physics/base/phys_array.h"
#include "physics/base/phys_math.h"
#include "physics/base/phys_memory.h"
#include "physics/base/phys_object.h"
#include "physics/base/phys_timer.h"
#include "physics/base/phys_warning.h"
#include "physics/collision/broad_phase.h"
#include "physics/collision/collision_body.h"
#include "physics/collision/collision_detection.h"
#include "physics/collision/collision_geometry.h"
#include "physics/collision/collision_primitive.h"
#include "physics/collision/collision_shape.h"
#include "physics/collision/convex_hull.h"
#include "physics/collision/gjk.h"
#include "physics/collision/mesh_container.h"
#include "physics/collision/narrow_phase.h"
#include "physics/collision/primitive_collector.h"
#include "physics/collision/ray_query.h"
#include "physics/dynamics/action.h"
#include "physics/dynamics/constraint.h"
#include "physics/dynamics/contact_state.h"
#include "physics/dynamics/dyn_world.h"
#include "physics/dynamics/events.h"
#include "physics/dynamics/phys_time.h"
#include "physics/dynamics/rigid_body.h"
#include "physics/dynamics/simulation.h"
#include "physics/dynamics/spring_actions.h"
#include "physics/dynamics/subspace.h"

#include <gtest/gtest.h>

// A frame's matrix and a body's orientation share one quaternion type: the
// base library's conversion of a frame matrix and the physics engine's
// conversion of the same rows give the same rotation, and that rotation
// takes the body axes to the matrix rows (within the table-root
// normalisation of the frame's axis).
TEST(SharedMaths, FrameMatrixAndBodyOrientationShareOneQuaternion) {
  const Vec3 axes[] = {{0, 1, 0}, {1, 0, 0}, {0.3f, -0.8f, 0.52f}};
  const float angles[] = {0.4f, 2.9f, -1.7f};
  for (int i = 0; i < 3; ++i) {
    Mat4 frame;
    Mat4_FromAxisAngle(&frame, &axes[i], angles[i], nullptr);
    Quat fromFrame;
    Quat_FromMatrix(&fromFrame, &frame);
    Mat3 rows;
    for (int r = 0; r < 3; ++r) rows.r[r] = V3(frame.m[r][0], frame.m[r][1], frame.m[r][2]);
    Quat fromRows;
    Quaternion_FromMatrix3(&fromRows, &rows);
    float dot = fromFrame.x * fromRows.x + fromFrame.y * fromRows.y + fromFrame.z * fromRows.z +
                fromFrame.w * fromRows.w;
    EXPECT_NEAR(std::fabs(dot), 1.0f, 1e-4f) << "case " << i;
    const Vec3 bodyAxes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int r = 0; r < 3; ++r) {
      Vec3 turned = Quat_Rotate(fromFrame, bodyAxes[r]);
      EXPECT_NEAR(turned.x, rows.r[r].x, 1e-4f);
      EXPECT_NEAR(turned.y, rows.r[r].y, 1e-4f);
      EXPECT_NEAR(turned.z, rows.r[r].z, 1e-4f);
    }
  }
}
