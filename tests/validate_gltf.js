// Prints Khronos' glTF validator's report of one file as JSON:
//     node validate_gltf.js VALIDATOR_FOLDER FILE.glb
const path = require('path');
const fs = require('fs');
const validator = require(path.join(path.resolve(process.argv[2]), 'node_modules', 'gltf-validator'));
validator.validateBytes(new Uint8Array(fs.readFileSync(process.argv[3])), {maxIssues: 100})
    .then((report) => console.log(JSON.stringify(report, null, 1)))
    .catch((error) => { console.error(String(error)); process.exit(1); });
