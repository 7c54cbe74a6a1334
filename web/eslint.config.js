// ESLint for the module, the page, the build script, the tests and the web
// benchmark: the recommended rules, with the globals of where each runs.
import js from "@eslint/js";
import globals from "globals";

export default [
  { ignores: ["**/node_modules/"] },
  js.configs.recommended,
  {
    languageOptions: {
      ecmaVersion: 2024,
      sourceType: "module",
      globals: { ...globals.browser, ...globals.worker, ...globals.node },
    },
    rules: {
      "no-unused-vars": ["error", { argsIgnorePattern: "^_", ignoreRestSiblings: true }],
    },
  },
];
